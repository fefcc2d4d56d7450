#include "auto_decoder.h"

#include "imagelib/byte_source.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

CAutoDecoder::CAutoDecoder() = default;
CAutoDecoder::~CAutoDecoder() = default;

CImageDecoder& CAutoDecoder::Recognise(CByteSource& source) {
    const ImageFormat format = DetectFormat(source.Peek(kDetectionHeaderSize), source.Available(), source.Name());
    lastFormat_ = format;
    const FormatEntry* entry = FindFormat(format);
    if (entry == nullptr) RaiseError(ERR_UNKNOWN_TYPE, "Unknown file type.");
    Trace(2, entry->recognitionLine);
    std::unique_ptr<CImageDecoder>& decoder = decoders_[static_cast<size_t>(format)];
    if (!decoder) decoder = entry->createDecoder();
    return *decoder;
}

void CAutoDecoder::DecodeSource(CByteSource& source, CImageBitmap& bitmap, int& depth) {
    Recognise(source).DecodeSource(source, bitmap, depth);
}

void CAutoDecoder::ProbeSource(CByteSource& source, ImageInfo& info) { Recognise(source).ProbeSource(source, info); }
