#include "auto_decoder.h"

#include "bmp_decoder.h"
#include "gif_decoder.h"
#include "jpeg_decoder.h"
#include "metafile_decoder.h"
#include "pcx_decoder.h"
#include "pgm_decoder.h"
#include "pict_decoder.h"
#include "png_decoder.h"
#include "tga_decoder.h"
#include "tiff_decoder.h"
#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <algorithm>

namespace {

const char* RecognitionLine(ImageFormat format) {
    switch (format) {
    case ImageFormat::BMP: return "Windows bitmap recognized.\n";
    case ImageFormat::PICT: return "Mac PICT recognized.\n";
    case ImageFormat::TGA: return "TGA file recognized.\n";
    case ImageFormat::TIFF: return "TIFF file recognized.\n";
    case ImageFormat::JPEG: return "JPEG file recognized.\n";
    case ImageFormat::PNG: return "PNG file recognized.\n";
    case ImageFormat::EPS: return "TIFF preview in EPS file recognized.\n";
    case ImageFormat::WMF: return "WMF file recognized.\n";
    case ImageFormat::EMF: return "EMF file recognized.\n";
    case ImageFormat::PCX: return "PCX file recognized.\n";
    case ImageFormat::PGM: return "PGM file recognized.\n";
    case ImageFormat::GIF: return "GIF file recognized.\n";
    case ImageFormat::None: break;
    }
    return "";
}

}  // namespace

template <typename Decoder, typename... Args>
Decoder* CAutoDecoder::Add(std::initializer_list<ImageFormat> formats, Args&&... args) {
    auto decoder = std::make_unique<Decoder>(std::forward<Args>(args)...);
    Decoder* raw = decoder.get();
    decoders_.push_back(std::move(decoder));
    for (ImageFormat format : formats) byFormat_[static_cast<size_t>(format)] = raw;
    return raw;
}

CAutoDecoder::CAutoDecoder() {
    Add<CBMPDecoder>({ImageFormat::BMP});
    Add<CTGADecoder>({ImageFormat::TGA});
    Add<CTIFFDecoder>({ImageFormat::TIFF});
    CJPEGDecoder* jpeg = Add<CJPEGDecoder>({ImageFormat::JPEG});
    Add<CPICTDecoder>({ImageFormat::PICT}, jpeg);
    Add<CPNGDecoder>({ImageFormat::PNG});
    Add<CMetafileDecoder>({ImageFormat::WMF, ImageFormat::EMF});
    Add<CPCXDecoder>({ImageFormat::PCX});
    Add<CPGMDecoder>({ImageFormat::PGM});
    Add<CGIFDecoder>({ImageFormat::GIF});
}

CAutoDecoder::~CAutoDecoder() = default;

void CAutoDecoder::DecodeSource(CByteSource& source, CImageBitmap& bitmap, int& depth) {
    ImageFormat format = DetectFormatByName(source.Name());
    if (format == ImageFormat::None)
        format = DetectFormat(source.Peek(kDetectionHeaderSize), source.Available());
    lastFormat_ = format;
    if (format == ImageFormat::None) RaiseError(ERR_UNKNOWN_TYPE, "Unknown file type.");
    Trace(2, RecognitionLine(format));
    if (format == ImageFormat::EPS) {
        DecodeEpsPreview(source, bitmap, depth);
        return;
    }
    CImageDecoder* decoder = byFormat_[static_cast<size_t>(format)];
    if (decoder == nullptr)
        RaiseError(ERR_FEATURE_UNAVAILABLE, FormatText("%s files cannot be decoded by this build.", FormatName(format)));
    decoder->DecodeSource(source, bitmap, depth);
}

// An EPS file with a TIFF preview starts with a 30-byte binary header whose little-endian
// fields at 20 and 24 give the preview's offset and length. The TIFF decoder sees exactly
// the preview, so nothing it reads can stray into the PostScript around it.
void CAutoDecoder::DecodeEpsPreview(CByteSource& source, CImageBitmap& bitmap, int& depth) {
    const uint8_t* header = source.Read(30);
    const uint32_t offset = ReadLE32(header + 20);
    const uint32_t length = ReadLE32(header + 24);
    const size_t start = source.Position() - 30;
    if (offset > source.DataSize() - start || length > source.DataSize() - start - offset)
        RaiseError(ERR_BAD_DATA, "The TIFF preview lies beyond the end of the EPS file.");
    CImageDecoder* tiff = byFormat_[static_cast<size_t>(ImageFormat::TIFF)];
    if (tiff == nullptr) RaiseError(ERR_FEATURE_UNAVAILABLE, "TIFF files cannot be decoded by this build.");
    CMemoryBlockSource preview;
    preview.Open(header + offset, length);
    tiff->DecodeSource(preview, bitmap, depth);
    preview.Close();
}
