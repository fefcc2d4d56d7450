// vtview-decoder: decodes pictures for the viewer in a process of its own.
//
//   vtview-decoder --socket FD [--storage-limit BYTES] [--watchdog-ms N] [--trace LEVEL FILE]
//   vtview-decoder --test-try-open PATH
//
// The viewer starts it with one end of a socket pair as FD and sends it opened files; the
// helper answers with the pictures in sealed memfds (isolation/decode_wire.h), or keeps an
// animation open and answers with its frames one a request. Before it
// serves, it loads what cannot be loaded later (Qt's offscreen platform, the font
// database, a first font), limits its address space and enters a system-call filter that
// leaves it no way to start a program or reach the network, and no file to open but the
// fonts (read only, held there by Landlock; where the kernel has no Landlock, none at all).
//
// --test-try-open does the same start-up, then tries to open PATH and prints what came of it
// ("opened" or the errno's name), so that the filter can be seen at work.
//
// With VT_DECODER_TEST_FAULTS set in its environment, files named fault-crash*, fault-hang*
// and fault-hog* make it crash, hang or run out of address space, and animations named
// fault-frame-crash* or fault-frame-hang* crash or hang at their second frame (for tests of
// the viewer's recovery).

#include "codecs/auto_decoder.h"
#include "imagelib/dib_section_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "isolation/decode_server.h"
#include "isolation/helper_sandbox.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kUsageError = 2;

// Everything that reads files on first use does so now, before the filter: the font
// database, a font for metafile text, and the SVG renderer's own text machinery.
void WarmUp() {
    static_cast<void>(QFontDatabase::families());
    QImage canvas(64, 16, QImage::Format_RGB32);
    {
        QPainter painter(&canvas);
        painter.drawText(0, 12, QStringLiteral("Warm"));
    }
    // The common families in their common styles: the SVG renderer keeps a handful of
    // faces open, and opens no others once the filter is in place.
    static constexpr std::string_view kSvg =
        "<svg xmlns='http://www.w3.org/2000/svg' width='32' height='16'>"
        "<text font-family='sans-serif'>A<tspan font-style='italic'>A</tspan><tspan font-weight='bold'>A</tspan></text>"
        "<text font-family='serif'>A<tspan font-style='italic'>A</tspan><tspan font-weight='bold'>A</tspan></text>"
        "<text font-family='monospace'>A<tspan font-style='italic'>A</tspan><tspan font-weight='bold'>A</tspan></text>"
        "</svg>";
    try {
        CAutoDecoder decoder;
        CDIBSectionBitmap picture;
        decoder.DecodeMemory(reinterpret_cast<const uint8_t*>(kSvg.data()), kSvg.size(), picture, 32);
    } catch (const CTextException&) {
        // A build without SVG support: nothing to warm.
    }
}

bool ParseNumber(const char* text, uint64_t& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

// Confined, the helper ends at once: what exit handlers would do (Qt's clean-up, the leak
// checker's tracer in sanitizer builds) needs calls the filter refuses.
[[noreturn]] void EndConfined(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

}  // namespace

int main(int argc, char** argv) {
    int socket = -1;
    uint64_t storageLimit = kDefaultBitmapStorageLimit;
    uint64_t watchdogMs = 60000;
    const char* tryOpen = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        const bool hasValue = i + 1 < argc;
        uint64_t number = 0;
        if (option == "--socket" && hasValue && ParseNumber(argv[++i], number) && number <= 1024) {
            socket = static_cast<int>(number);
        } else if (option == "--storage-limit" && hasValue && ParseNumber(argv[++i], storageLimit)) {
        } else if (option == "--watchdog-ms" && hasValue && ParseNumber(argv[++i], watchdogMs) && watchdogMs > 0) {
        } else if (option == "--trace" && i + 2 < argc && ParseNumber(argv[i + 1], number)) {
            SetTraceLevel(static_cast<int>(number));
            SetTraceFileName(argv[i + 2]);
            i += 2;
        } else if (option == "--test-try-open" && hasValue) {
            tryOpen = argv[++i];
        } else {
            std::fputs("usage: vtview-decoder --socket FD [--storage-limit BYTES] [--watchdog-ms N] "
                       "[--trace LEVEL FILE]\n       vtview-decoder --test-try-open PATH\n",
                       stderr);
            return kUsageError;
        }
    }
    if (socket < 0 && tryOpen == nullptr) return kUsageError;
    // Whatever else the viewer left open stays out of reach.
    ::close_range(static_cast<unsigned>(std::max(socket, 2)) + 1, ~0U, 0);

    // Qt's remarks (a missing runtime folder, say) are no business of the viewer's terminal.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
        Trace(2, message.toStdString() + "\n");
    });
    static char platformOption[] = "-platform";
    static char platform[] = "offscreen";
    int qtArgc = 3;
    char* qtArgv[] = {argv[0], platformOption, platform, nullptr};
    QGuiApplication application(qtArgc, qtArgv);
    SetBitmapStorageLimit(storageLimit);
    WarmUp();

    LimitHelperResources(storageLimit);
    std::string why;
    const bool fontsOnly = RestrictFilesToFonts(why);
    if (!fontsOnly) Trace(1, "vtview-decoder opens no files, fonts included (" + why + ").\n");
    if (!EnterSyscallFilter(fontsOnly, why)) {
        const std::string line = "vtview-decoder runs without a system-call filter: " + why + ".\n";
        Trace(0, line);
        std::fputs(line.c_str(), stderr);
    }

    if (tryOpen != nullptr) {
        const int fd = ::open(tryOpen, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            std::puts("opened");
            EndConfined(1);
        }
        std::printf("%s\n", strerrorname_np(errno));
        EndConfined(0);
    }
    CDecodeServer server(socket, std::chrono::milliseconds(watchdogMs), std::getenv("VT_DECODER_TEST_FAULTS") != nullptr);
    EndConfined(server.Run());
}
