#include "codecs/auto_decoder.h"
#include "decode_test_helpers.h"
#include "metafile_builder.h"

#include "imagelib/byte_source.h"
#include "imagelib/decode_context.h"
#include "imagelib/image_encoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "support/test_files.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

// Every file here is 256 x 64 pixels of a pattern that compresses poorly, so that each
// decode has many rows (or records) still to go when it first tells its progress.
constexpr int kWidth = 256;
constexpr int kHeight = 64;

uint8_t Sample(int x, int y, int channel) { return static_cast<uint8_t>((x * 37 + y * 101 + channel * 53 + x * y) % 251); }

Bytes PngFile() {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp w, png_bytep data, size_t n) {
            auto* bytes = static_cast<Bytes*>(png_get_io_ptr(w));
            bytes->insert(bytes->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    Bytes row(kWidth * 4);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth * 4; ++x) row[static_cast<size_t>(x)] = Sample(x / 4, y, x % 4);
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes JpegFile() {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    Bytes row(kWidth * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth * 3; ++x) row[static_cast<size_t>(x)] = Sample(x / 3, y, x % 3);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

Bytes TiffFile(const std::string& path) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 4);
    Bytes row(kWidth * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth * 3; ++x) row[static_cast<size_t>(x)] = Sample(x / 3, y, x % 3);
        TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(tiff);
    return ReadBytes(path);
}

Bytes GifFile() {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, [](GifFileType* g, const GifByteType* data, int n) {
        auto* bytes = static_cast<Bytes*>(g->UserData);
        bytes->insert(bytes->end(), data, data + n);
        return n;
    }, &error);
    std::vector<GifColorType> colours(256);
    for (int i = 0; i < 256; ++i) colours[static_cast<size_t>(i)] = {static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i), 0};
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr);
    std::vector<GifPixelType> row(kWidth);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) row[static_cast<size_t>(x)] = Sample(x, y, 0);
        EGifPutLine(gif, row.data(), kWidth);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

// Uncompressed 24-bit true colour, top row first.
Bytes TgaFile() {
    Bytes out = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    AppendLE16(out, kWidth);
    AppendLE16(out, kHeight);
    Append(out, {24, 0x20});
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) Append(out, {Sample(x, y, 0), Sample(x, y, 1), Sample(x, y, 2)});
    return out;
}

// Three planes of 8 bits, every byte a literal (bytes of 0xC0 and above behind a run of 1).
Bytes PcxFile() {
    Bytes out(128, 0);
    out[0] = 10;
    out[1] = 5;
    out[2] = 1;
    out[3] = 8;
    out[8] = (kWidth - 1) & 0xFF;
    out[9] = (kWidth - 1) >> 8;
    out[10] = kHeight - 1;
    out[65] = 3;
    out[66] = kWidth & 0xFF;
    out[67] = kWidth >> 8;
    for (int y = 0; y < kHeight; ++y)
        for (int plane = 0; plane < 3; ++plane)
            for (int x = 0; x < kWidth; ++x) {
                const uint8_t v = Sample(x, y, plane);
                if (v >= 0xC0) out.push_back(0xC1);
                out.push_back(v);
            }
    return out;
}

Bytes PgmFile() {
    const std::string header = "P5 " + std::to_string(kWidth) + " " + std::to_string(kHeight) + " 255\n";
    Bytes out(header.begin(), header.end());
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) out.push_back(Sample(x, y, 0));
    return out;
}

// A version 2 picture holding one 8-bit PackBitsRect, each row two literal runs of 128.
Bytes PictFile() {
    Bytes out(512, 0);
    for (int v : {0, 0, 0, kHeight, kWidth}) AppendBE16(out, v);
    Append(out, {0x00, 0x11, 0x02, 0xFF, 0x0C, 0x00});
    out.resize(out.size() + 24, 0);
    auto rect = [&out] {
        for (int v : {0, 0, kHeight, kWidth}) AppendBE16(out, v);
    };
    AppendBE16(out, 0x98);
    AppendBE16(out, 0x8000 | kWidth);
    rect();
    for (int v : {0, 0}) AppendBE16(out, v);  // version, pack type
    for (uint32_t v : {0u, 0x00480000u, 0x00480000u}) AppendBE32(out, v);  // pack size, resolutions
    for (int v : {0, 8, 1, 8}) AppendBE16(out, v);  // pixel type, size, components, component size
    for (uint32_t v : {0u, 0u, 0u}) AppendBE32(out, v);
    AppendBE32(out, 0);  // colour table: seed, device flag, 256 entries
    AppendBE16(out, 0x8000);
    AppendBE16(out, 255);
    for (int i = 0; i < 256; ++i)
        for (int v : {0, i * 257, (255 - i) * 257, 0}) AppendBE16(out, v);
    rect();
    rect();
    AppendBE16(out, 0);  // transfer mode
    for (int y = 0; y < kHeight; ++y) {
        AppendBE16(out, 2 * (1 + kWidth / 2));
        for (int half = 0; half < 2; ++half) {
            out.push_back(kWidth / 2 - 1);
            for (int x = half * kWidth / 2; x < (half + 1) * kWidth / 2; ++x) out.push_back(Sample(x, y, 0));
        }
    }
    AppendBE16(out, 0xFF);
    return out;
}

// 8-bit run-length data: every row two runs of 128 pixels and its end.
Bytes BmpRunLengthFile() {
    Bytes out = {'B', 'M'};
    const int paletteBytes = 256 * 4;
    const int dataBytes = kHeight * 6 + 2;
    auto le32 = [&out](uint32_t v) { Append(out, {int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24)}); };
    le32(static_cast<uint32_t>(14 + 40 + paletteBytes + dataBytes));
    le32(0);
    le32(14 + 40 + paletteBytes);
    le32(40);
    le32(kWidth);
    le32(kHeight);
    AppendLE16(out, 1);
    AppendLE16(out, 8);
    le32(1);  // run-length, 8 bits
    le32(static_cast<uint32_t>(dataBytes));
    for (int i = 0; i < 4; ++i) le32(0);
    for (int i = 0; i < 256; ++i) Append(out, {i, 255 - i, i / 2, 0});
    for (int y = 0; y < kHeight; ++y) Append(out, {128, y, 128, 255 - y, 0, 0});
    Append(out, {0, 1});
    return out;
}

// Enough records that the player has most of them still to play.
Bytes WmfFile() {
    CWmfBuilder wmf;
    wmf.Placeable(0, 0, kWidth, kHeight, 96);
    for (int i = 0; i < 400; ++i) wmf.Record(0x041B, {i % kHeight, i % kWidth, 0, 0});  // Rectangle
    return wmf.Build();
}

Bytes EmfFile() {
    // The frame in hundredths of a millimetre, rounded up so that it makes whole pixels.
    CEmfBuilder emf(QRect(QPoint(0, 0), QPoint((kWidth * 2540 + 95) / 96, (kHeight * 2540 + 95) / 96)));
    for (int i = 0; i < 400; ++i) emf.Record(43, {0, 0, i % kWidth, i % kHeight});  // Rectangle
    return emf.Build();
}

// Cancels the decode it watches when the decode first tells its progress.
// The TIFF behind the 30-byte binary header of an EPS file, with no PostScript.
Bytes EpsFile(const std::string& path) {
    const Bytes tiff = TiffFile(path);
    Bytes eps = {0xC5, 0xD0, 0xD3, 0xC6};
    for (uint32_t field : {30u, 0u, 0u, 0u, 30u, static_cast<uint32_t>(tiff.size())})
        for (int shift = 0; shift < 32; shift += 8) eps.push_back(static_cast<uint8_t>(field >> shift));
    eps.push_back(0xFF);
    eps.push_back(0xFF);
    eps.insert(eps.end(), tiff.begin(), tiff.end());
    return eps;
}

// An uncompressed 24-bit BMP, as the library writes one.
Bytes BmpFile(const std::string& path) {
    CMemBitmap picture;
    CreatePattern(picture, kWidth, kHeight, 32);
    CBMPEncoder().EncodeFile(path, picture);
    return ReadBytes(path);
}

class CancelOnFirstReport : public CProgressListener {
public:
    explicit CancelOnFirstReport(const CDecodeContext& context) : context_(context) {}
    void Progress(double) override {
        if (reports_++ == 0) context_.Cancel();
    }
    int Reports() const { return reports_; }

private:
    const CDecodeContext& context_;
    int reports_ = 0;
};

struct CancelCase {
    const char* name;
    const char* fileName;
    std::function<Bytes(const std::string& path)> make;
};

class CancelTest : public ::testing::TestWithParam<CancelCase> {};

}  // namespace

// A decode cancelled as it first tells its progress stops at its next check, with code 12,
// long before its last row; the same file decodes whole when nobody cancels.
TEST_P(CancelTest, CancelInTheMiddleEndsTheDecode) {
    TempDir dir;
    const std::string path = dir.File(GetParam().fileName);
    WriteBytes(path, GetParam().make(path));
    CAutoDecoder decoder;

    CDecodeContext context;
    CancelOnFirstReport listener(context);
    CMemBitmap bitmap;
    try {
        decoder.DecodeFile(path, bitmap, context, 32, &listener);
        ADD_FAILURE() << "the decode ran to its end after " << listener.Reports() << " progress reports";
    } catch (const CTextException& e) {
        EXPECT_EQ(e.Code(), ERR_CANCELLED) << e.Text();
        EXPECT_EQ(e.Text(), "Decoding was cancelled.");
    }
    EXPECT_GE(listener.Reports(), 1);

    CMemBitmap whole;
    decoder.DecodeFile(path, whole, CDecodeContext(), 32);
    EXPECT_EQ(whole.Size(), std::make_pair(kWidth, kHeight));
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, CancelTest,
    ::testing::Values(CancelCase{"Png", "big.png", [](const std::string&) { return PngFile(); }},
                      CancelCase{"Tiff", "big.tif", [](const std::string& path) { return TiffFile(path); }},
                      CancelCase{"Gif", "big.gif", [](const std::string&) { return GifFile(); }},
                      CancelCase{"Tga", "big.tga", [](const std::string&) { return TgaFile(); }},
                      CancelCase{"Pcx", "big.pcx", [](const std::string&) { return PcxFile(); }},
                      CancelCase{"Pgm", "big.pgm", [](const std::string&) { return PgmFile(); }},
                      CancelCase{"Pict", "big.pict", [](const std::string&) { return PictFile(); }},
                      CancelCase{"Wmf", "big.wmf", [](const std::string&) { return WmfFile(); }},
                      CancelCase{"Emf", "big.emf", [](const std::string&) { return EmfFile(); }},
                      CancelCase{"Bmp", "big.bmp", [](const std::string&) { return BmpRunLengthFile(); }},
                      CancelCase{"BmpPlain", "plain.bmp", [](const std::string& path) { return BmpFile(path); }},
                      CancelCase{"Eps", "big.eps", [](const std::string& path) { return EpsFile(path); }},
                      CancelCase{"Jpeg", "big.jpg", [](const std::string&) { return JpegFile(); }}),
    [](const ::testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });
