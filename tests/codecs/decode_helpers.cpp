#include "decode_helpers.h"

#include "imagelib/byte_source.h"
#include "imagelib/image_decoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"

void DecodeBytes(CImageDecoder& decoder, const std::vector<uint8_t>& bytes, CImageBitmap& bitmap, int& depth) {
    CMemoryBlockSource source;
    source.Open(bytes.data(), bytes.size());
    decoder.DecodeSource(source, bitmap, depth);
}

int DecodeError(CImageDecoder& decoder, const std::vector<uint8_t>& bytes, std::string* text, int depth) {
    CMemBitmap bitmap;
    try {
        DecodeBytes(decoder, bytes, bitmap, depth);
    } catch (const CTextException& e) {
        if (text) *text = e.Text();
        return e.Code();
    }
    return 0;
}
