#include "codecs/auto_decoder.h"
#include "codecs/bmp_decoder.h"
#include "codecs/gif_decoder.h"
#ifdef VT_HAVE_HEIF
#include "codecs/heif_decoder.h"
#endif
#include "codecs/jpeg_decoder.h"
#include "codecs/metafile_decoder.h"
#include "codecs/pcx_decoder.h"
#include "codecs/pgm_decoder.h"
#include "codecs/pict_decoder.h"
#include "codecs/png_decoder.h"
#include "codecs/tga_decoder.h"
#include "codecs/tiff_decoder.h"
#ifdef VT_HAVE_JXL
#include "codecs/jxl_decoder.h"
#endif
#ifdef VT_HAVE_SVG
#include "codecs/svg_decoder.h"
#endif
#include "imagelib/mem_bitmap.h"
#include "imagelib/storage_limit.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

// The decoder a fuzz target feeds directly, by the name of the folder its inputs are kept in.
std::unique_ptr<CImageDecoder> DecoderFor(const std::string& format, CJPEGDecoder& jpeg) {
    if (format == "bmp") return std::make_unique<CBMPDecoder>();
    if (format == "gif") return std::make_unique<CGIFDecoder>();
#ifdef VT_HAVE_HEIF
    if (format == "heif") return std::make_unique<CHEIFDecoder>();
#endif
    if (format == "jpeg") return std::make_unique<CJPEGDecoder>();
    if (format == "metafile") return std::make_unique<CMetafileDecoder>();  // the file's name gives the kind
    if (format == "pcx") return std::make_unique<CPCXDecoder>();
    if (format == "pgm") return std::make_unique<CPGMDecoder>();
    if (format == "pict") return std::make_unique<CPICTDecoder>(&jpeg);
    if (format == "png") return std::make_unique<CPNGDecoder>();
    if (format == "tga") return std::make_unique<CTGADecoder>();
    if (format == "tiff") return std::make_unique<CTIFFDecoder>();
#ifdef VT_HAVE_JXL
    if (format == "jxl") return std::make_unique<CJXLDecoder>();
#endif
#ifdef VT_HAVE_SVG
    if (format == "svg") return std::make_unique<CSVGDecoder>();
#endif
    return nullptr;
}

// The fuzz targets' storage limit, so that inputs replay as they were found.
class FuzzStorageLimit {
public:
    FuzzStorageLimit() { SetBitmapStorageLimit(uint64_t{32} << 20); }
    ~FuzzStorageLimit() { SetBitmapStorageLimit(kDefaultBitmapStorageLimit); }
};

}  // namespace

// Inputs that once broke a decoder, kept under tests/data/fuzz-regressions/<format>/ and
// named after what they broke. Each must now decode or fail with a CTextException, through
// its own decoder as the fuzz target fed it and through the any-format decoder; the
// sanitizer build in CI catches anything worse.
TEST(FuzzRegressionTest, EveryKeptInputDecodesOrFailsCleanly) {
    const std::filesystem::path root = TestDataPath("fuzz-regressions");
    if (!std::filesystem::exists(root)) GTEST_SKIP() << "no regression inputs kept";
    const FuzzStorageLimit limit;
    CAutoDecoder autoDecoder;
    CJPEGDecoder jpeg;
    int replayed = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
        SCOPED_TRACE(entry.path().string());
        const std::unique_ptr<CImageDecoder> own = DecoderFor(entry.path().parent_path().filename().string(), jpeg);
        for (CImageDecoder* decoder : {own.get(), static_cast<CImageDecoder*>(&autoDecoder)}) {
            if (decoder == nullptr) continue;
            for (int depth : {0, 8, 32}) {
                CMemBitmap bitmap;
                try {
                    decoder->DecodeFile(entry.path().string(), bitmap, depth);
                } catch (const CTextException&) {
                }
            }
        }
        ++replayed;
    }
    RecordProperty("replayed", replayed);
}
