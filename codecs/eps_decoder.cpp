#include "eps_decoder.h"

#include "imagelib/byte_order.h"
#include "imagelib/byte_source.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <cstring>

namespace {

constexpr size_t kEpsHeaderSize = 30;

// Hands the preview's progress on as the file's, so a listener hears of the decode (and
// can cancel it) while the preview is decoded.
class ForwardProgress : public CProgressListener {
public:
    explicit ForwardProgress(CByteSource& outer) : outer_(outer) {}
    void Progress(double fraction) override { outer_.ReportProgress(fraction); }

private:
    CByteSource& outer_;
};

// Runs work on a source holding exactly the preview.
template <typename Work>
void WithPreview(CByteSource& source, Work&& work) {
    const size_t start = source.Position();
    const uint8_t* header = source.Read(kEpsHeaderSize);
    const uint32_t offset = ReadLE32(header + 20);
    const uint32_t length = ReadLE32(header + 24);
    if (offset > source.DataSize() - start || length > source.DataSize() - start - offset)
        RaiseError(ERR_BAD_DATA, "The TIFF preview lies beyond the end of the EPS file.");
    ForwardProgress forward(source);
    CMemoryBlockSource preview(&forward);
    preview.Open(header + offset, length);
    work(preview);
    preview.Close();
}

}  // namespace

bool HasEpsTiffPreview(const uint8_t* b, size_t) {
    static constexpr uint8_t kSignature[] = {0xC5, 0xD0, 0xD3, 0xC6};
    static constexpr uint8_t kSwapped[] = {0xC6, 0xD3, 0xD0, 0xC5};
    return (std::memcmp(b, kSignature, 4) == 0 || std::memcmp(b, kSwapped, 4) == 0) && ReadLE32(b + 20) != 0 &&
           ReadLE32(b + 24) != 0;
}

void CEPSDecoder::DecodeInto(CImageBitmap& bitmap, PaletteHolder&, int& depth, CByteSource& source) {
    WithPreview(source, [&](CByteSource& preview) { tiff_.DecodeSource(preview, bitmap, depth); });
}

void CEPSDecoder::ProbeSource(CByteSource& source, ImageInfo& info) {
    WithPreview(source, [&](CByteSource& preview) { tiff_.ProbeSource(preview, info); });
}
