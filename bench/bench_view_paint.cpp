// Painting speed of the image view: a 24-megapixel picture in proportional stretch in a
// 1920 x 1080 view, offscreen. Prints the median time of the first paint after a mode change
// (the picture must be scaled anew), of a repaint (nothing changed), and of one memcpy of
// 1920 x 1080 32-bit pixels, all measured in the same run.
//
//   bench_view_paint [RUNS]

#include "imagelib/image_encoder.h"
#include "imagelib/mem_bitmap.h"
#include "viewer/command_ids.h"
#include "viewer/display_layout.h"
#include "viewer/main_frame.h"
#include "viewer/test11_app.h"
#include "viewer/test11_view.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr int kPictureWidth = 6000;
constexpr int kPictureHeight = 4000;
constexpr int kViewWidth = 1920;
constexpr int kViewHeight = 1080;

double Milliseconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool WritePicture(const QString& path) {
    CMemBitmap picture;
    picture.Create(kPictureWidth, kPictureHeight, 32, false);
    for (int y = 0; y < kPictureHeight; ++y) {
        BGRA* row = picture.PixelLine(y);
        for (int x = 0; x < kPictureWidth; ++x)
            row[x] = OpaqueColour(static_cast<uint8_t>(x * 255 / kPictureWidth), static_cast<uint8_t>(y * 255 / kPictureHeight),
                                  static_cast<uint8_t>((x ^ y) & 0xFF));
    }
    try {
        CBMPEncoder().EncodeFile(path.toStdString(), picture);
    } catch (...) {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    const int runs = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("picture.bmp"));
    if (!folder.isValid() || !WritePicture(file)) {
        std::fprintf(stderr, "bench_view_paint: cannot write the test picture\n");
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());

    CTest11App app;
    if (!app.InitInstance({QStringLiteral("vtview"), QStringLiteral("--no-splash"), file})) return 1;
    CTest11View* view = app.View();
    CCommandTable& commands = app.MainFrame()->Commands();
    app.MainFrame()->setCentralWidget(nullptr);
    view->setParent(nullptr);
    view->resize(kViewWidth, kViewHeight);
    view->show();
    QApplication::processEvents();

    // Proportional and stretch-to-fill give different sizes, so each switch scales anew.
    std::vector<double> firstPaint;
    std::vector<double> repaint;
    for (int i = 0; i < runs; ++i) {
        for (int mode : {ID_PROPORTIONAL_STRETCH, ID_STRETCH_TO_FILL}) {
            app.MainFrame()->Model().StretchState = DisplayMode::Natural();
            commands.Execute(mode);
            firstPaint.push_back(Milliseconds([&] { view->viewport()->repaint(); }));
        }
        repaint.push_back(Milliseconds([&] { view->viewport()->repaint(); }));
    }

    std::vector<uint8_t> source(size_t{kViewWidth} * kViewHeight * 4, 1);
    std::vector<uint8_t> target(source.size());
    std::vector<double> copy;
    for (int i = 0; i < runs; ++i) {
        copy.push_back(Milliseconds([&] { std::memcpy(target.data(), source.data(), source.size()); }));
        source[static_cast<size_t>(i)] = target[static_cast<size_t>(i) + 1];
    }

    const double first = Median(firstPaint);
    const double again = Median(repaint);
    const double memcpyTime = Median(copy);
    std::printf("picture %d x %d, view %d x %d, %d runs (medians)\n", kPictureWidth, kPictureHeight, kViewWidth,
                kViewHeight, runs);
    std::printf("first paint after a mode change: %8.2f ms  (target 150 ms)\n", first);
    std::printf("repaint:                         %8.2f ms  = %.2f x memcpy (target 3 x)\n", again, again / memcpyTime);
    std::printf("memcpy 1920 x 1080 x 32 bits:    %8.2f ms\n", memcpyTime);
    return 0;
}
