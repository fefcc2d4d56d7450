#include "isolation/isolated_animation.h"

#include "imagelib/byte_source.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"
#include "isolation/memfd_bitmap.h"
#include "isolation/unique_fd.h"

std::unique_ptr<CIsolatedAnimation> CIsolatedAnimation::Open(const std::string& fileName,
                                                             const CDecodeContext& context,
                                                             const DecoderHelperOptions& options) {
    int opened = -1;
    if (const int failure = OpenPictureFile(fileName, opened); failure != 0)
        RaiseError(failure, FormatText("Opening %s failed", fileName.c_str()));
    const CUniqueFd file(opened);
    auto helper = std::make_unique<CDecoderProcess>(options);
    const AnimationLayout layout = helper->OpenAnimation(file.Get(), fileName, context, true);
    if (layout.frameCount == 0) return nullptr;
    return std::unique_ptr<CIsolatedAnimation>(new CIsolatedAnimation(std::move(helper), fileName, context, layout));
}

CIsolatedAnimation::CIsolatedAnimation(std::unique_ptr<CDecoderProcess> helper, std::string name,
                                       const CDecodeContext& context, const AnimationLayout& layout)
    : helper_(std::move(helper)), name_(std::move(name)), context_(context), layout_(layout) {}

CIsolatedAnimation::~CIsolatedAnimation() = default;

int CIsolatedAnimation::ReadFrame(std::shared_ptr<CMemfdBitmap>& frame) {
    int delay = 0;
    auto next = helper_->NextFrame(name_, context_, layout_, delay);
    if (!next) return -1;
    frame = std::move(next);
    return delay;
}

void CIsolatedAnimation::Rewind() { helper_->RewindAnimation(name_, context_); }
