#include "corpus.h"

#include "codecs/auto_decoder.h"
#include "imagelib/decode_context.h"
#include "imagelib/image_bitmap.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"

#include <QImage>
#include <QString>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string SharedDir() { return VT_SHARED_DIR; }

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> cols;
    std::stringstream stream(line);
    std::string col;
    while (std::getline(stream, col, '\t')) cols.push_back(col);
    return cols;
}

int Channel(const BGRA& p, int c) { return c == 0 ? p.r : c == 1 ? p.g : p.b; }

// References that record another decoder's fault rather than the picture; these files must
// decode, but their pixels are not compared.
bool ReferenceIsWrong(const std::string& relPath) {
    // Runs reaching into a row's padding spill into the next row's first pixel in the
    // reference decoder; the delta escapes that follow leave that pixel visible.
    // The reference decoder shows these pictures black or blank: a monochrome BitMap of 2265
    // x 2593 pixels and two screenshots stored as direct pixels clipped by a region.
    return relPath == "corpus/bmp/tm_blauesglas_4.rle" || relPath == "corpus/pict/tm_FC10.PCT" ||
           relPath == "corpus/pict/tm_CatDV__2.0_1_.pict" || relPath == "corpus/pict/tm_Picture14.pict";
}

}  // namespace

bool CorpusAvailable() { return std::filesystem::exists(SharedDir() + "/corpus/CHECK.tsv"); }

std::vector<CorpusEntry> CorpusEntries(const std::string& format) {
    std::vector<CorpusEntry> entries;
    std::ifstream in(SharedDir() + "/corpus/CHECK.tsv");
    std::string line;
    std::vector<std::string> header;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto cols = SplitTabs(line);
        if (header.empty()) {
            header = cols;
            continue;
        }
        auto column = [&](const std::string& name) -> std::string {
            const auto it = std::find(header.begin(), header.end(), name);
            const auto index = static_cast<size_t>(it - header.begin());
            return index < cols.size() ? cols[index] : std::string();
        };
        if (column("format") != format) continue;
        CorpusEntry e;
        e.relPath = column("relpath");
        e.file = SharedDir() + "/" + e.relPath;
        e.format = format;
        e.expect = column("expect");
        const std::string ref = column("ref");
        // Some listed references were never made; such entries have none.
        if (!ref.empty() && ref != "-" && std::filesystem::exists(SharedDir() + "/" + ref)) e.reference = SharedDir() + "/" + ref;
        e.refTool = column("ref_tool");
        e.compare = column("compare");
        if (e.compare.empty() || e.compare == "-")
            e.compare = format == "jpeg" ? "psnr:30" : (format == "wmf" || format == "emf") ? "meta:25" : "exact";
        entries.push_back(e);
    }
    return entries;
}

std::string CompareWithReference(const CImageBitmap& bitmap, const CorpusEntry& entry) {
    const QImage reference = QImage(QString::fromStdString(entry.reference)).convertToFormat(QImage::Format_RGBA8888);
    if (reference.isNull()) return "reference cannot be read";
    const std::string kind = entry.compare.substr(0, entry.compare.find(':'));
    const double arg = entry.compare.find(':') == std::string::npos ? 0 : std::atof(entry.compare.c_str() + kind.size() + 1);
    const int rw = reference.width();
    const int rh = reference.height();
    auto ref = [&](int x, int y, int c) { return static_cast<int>(reference.constScanLine(y)[4 * x + c]); };
    std::ostringstream why;

    if (kind == "meta") {
        if (std::abs(bitmap.Width() - rw) > 2 || std::abs(bitmap.Height() - rh) > 2) {
            why << "size " << bitmap.Width() << "x" << bitmap.Height() << ", reference " << rw << "x" << rh;
            return why.str();
        }
        const int w = std::min(rw, bitmap.Width());
        const int h = std::min(rh, bitmap.Height());
        double sum = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) sum += std::abs(Channel(bitmap.PixelLine(y)[x], c) - ref(x, y, c));
        const double mean = sum / (3.0 * w * h);
        if (mean > arg) why << "mean absolute difference " << mean << " over " << arg;
        return why.str();
    }
    if (bitmap.Width() != rw || bitmap.Height() != rh) {
        why << "size " << bitmap.Width() << "x" << bitmap.Height() << ", reference " << rw << "x" << rh;
        return why.str();
    }
    if (kind == "psnr") {
        double squares = 0;
        for (int y = 0; y < rh; ++y)
            for (int x = 0; x < rw; ++x)
                for (int c = 0; c < 3; ++c) {
                    const double d = Channel(bitmap.PixelLine(y)[x], c) - ref(x, y, c);
                    squares += d * d;
                }
        const double mse = squares / (3.0 * rw * rh);
        const double psnr = mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
        if (psnr < arg) why << "PSNR " << psnr << " dB below " << arg;
        return why.str();
    }
    const int tolerance = kind == "exact" ? 0 : static_cast<int>(arg);
    int worst = 0, worstX = 0, worstY = 0;
    for (int y = 0; y < rh; ++y)
        for (int x = 0; x < rw; ++x) {
            const int alpha = ref(x, y, 3);
            if (alpha == 0) continue;
            const BGRA p = bitmap.PixelLine(y)[x];
            int straight = 0, premultiplied = 0, overWhite = 0;
            for (int c = 0; c < 3; ++c) {
                const int r = ref(x, y, c);
                straight = std::max(straight, std::abs(Channel(p, c) - r));
                premultiplied = std::max(premultiplied, std::abs(Channel(p, c) - (r * alpha + 127) / 255));
                overWhite = std::max(overWhite, std::abs(Channel(p, c) - (r * alpha + 255 * (255 - alpha) + 127) / 255));
            }
            const int error = alpha == 255 ? straight : std::max(0, std::min({straight, premultiplied, overWhite}) - 1);
            if (error > worst) {
                worst = error;
                worstX = x;
                worstY = y;
            }
        }
    if (worst > tolerance)
        why << "channel differs by " << worst << " (tolerance " << tolerance << ") at (" << worstX << ", " << worstY << ")";
    return why.str();
}

namespace {

// The bit depth in a PNG file's header (byte 24), or 0.
int PngBitDepth(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    char header[25] = {};
    in.read(header, sizeof header);
    return in ? static_cast<unsigned char>(header[24]) : 0;
}

}  // namespace

void CheckCorpusFormat(const std::string& format, const CorpusDeviations& deviations) {
    if (!CorpusAvailable()) GTEST_SKIP() << "the shared corpus is not present";
    const auto entries = CorpusEntries(format);
    ASSERT_FALSE(entries.empty()) << "no corpus entries for " << format;
    for (const auto& [relPath, deviation] : deviations)
        EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const CorpusEntry& e) { return e.relPath == relPath; }))
            << relPath << " is listed as a deviation (" << deviation.reason << ") but is not in the corpus";
    CAutoDecoder decoder;
    for (CorpusEntry e : entries) {
        SCOPED_TRACE(e.relPath);
        const auto deviation = deviations.find(e.relPath);
        if (deviation != deviations.end()) {
            e.expect = deviation->second.compare.empty() ? "either" : "ok";
            e.compare = deviation->second.compare;
        } else if (format == "png" && (e.compare.empty() || e.compare == "exact") && PngBitDepth(e.file) == 16) {
            // 16-bit samples are rounded to the nearest 8-bit level; the references keep the
            // high byte, one level below where the low byte is 128 or more.
            e.compare = "tol:1";
        }
        // The references come from tools that show the pixels as stored: no Exif turn, no
        // gamma or colour profile applied.
        CDecodeContext context;
        context.applyOrientation = false;
        context.colourManagement = false;
        CMemBitmap bitmap;
        std::string failure;
        bool decoded = false;
        try {
            decoder.DecodeFile(e.file, bitmap, context, 32);
            decoded = true;
        } catch (const CTextException& ex) {
            failure = ex.Text();
        }
        if (e.expect == "bad") {
            EXPECT_FALSE(decoded) << e.relPath << " is damaged but decoded";
        } else if (e.expect == "ok") {
            if (!decoded) {
                ADD_FAILURE() << e.relPath << " failed: " << failure;
            } else if (!e.reference.empty() && std::filesystem::exists(e.reference) && !ReferenceIsWrong(e.relPath)) {
                ASSERT_EQ(bitmap.BitsPerPixel(), 32);
                const std::string mismatch = CompareWithReference(bitmap, e);
                EXPECT_TRUE(mismatch.empty()) << e.relPath << ": " << mismatch;
            }
        }
    }
}
