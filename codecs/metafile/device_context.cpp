#include "device_context.h"

#include <algorithm>
#include <cmath>

namespace metafile {

CDeviceContext::CDeviceContext(const QTransform& device, double pixelsPerMmX, double pixelsPerMmY)
    : device_(device), pixelsPerMmX_(pixelsPerMmX), pixelsPerMmY_(pixelsPerMmY) {}

void CDeviceContext::Save() {
    if (saved_.size() >= kMaxSavedStates) {
        ++ignoredSaves_;
        return;
    }
    saved_.push_back(state_);
}

void CDeviceContext::Restore(int which) {
    if (which < 0 && ignoredSaves_ > 0) {
        const auto skip = std::min<size_t>(ignoredSaves_, static_cast<size_t>(-static_cast<int64_t>(which)));
        ignoredSaves_ -= skip;
        which += static_cast<int>(skip);
        if (which == 0) return;
    }
    size_t keep = 0;  // number of saved states left afterwards
    if (which < 0) {
        const auto back = static_cast<size_t>(-static_cast<int64_t>(which));
        if (back > saved_.size()) return;
        keep = saved_.size() - back;
    } else {
        if (which == 0 || static_cast<size_t>(which) > saved_.size()) return;
        keep = static_cast<size_t>(which) - 1;
    }
    state_ = std::move(saved_[keep]);
    saved_.resize(keep);
}

void CDeviceContext::SetMapMode(int mode) {
    if (mode < kMmText || mode > kMmAnisotropic) return;
    state_.mapMode = mode;
}

void CDeviceContext::SetWindowExt(QSizeF ext) {
    if (ext.width() == 0 || ext.height() == 0) return;
    state_.windowExt = ext;
}

void CDeviceContext::SetViewportExt(QSizeF ext) {
    if (ext.width() == 0 || ext.height() == 0) return;
    state_.viewportExt = ext;
}

void CDeviceContext::ScaleWindowExt(double xNum, double xDenom, double yNum, double yDenom) {
    if (xDenom == 0 || yDenom == 0) return;
    SetWindowExt({state_.windowExt.width() * xNum / xDenom, state_.windowExt.height() * yNum / yDenom});
}

void CDeviceContext::ScaleViewportExt(double xNum, double xDenom, double yNum, double yDenom) {
    if (xDenom == 0 || yDenom == 0) return;
    SetViewportExt({state_.viewportExt.width() * xNum / xDenom, state_.viewportExt.height() * yNum / yDenom});
}

QTransform CDeviceContext::PageTransform() const {
    double sx = 1;
    double sy = 1;
    switch (state_.mapMode) {
    case kMmLoMetric: sx = pixelsPerMmX_ / 10, sy = -pixelsPerMmY_ / 10; break;
    case kMmHiMetric: sx = pixelsPerMmX_ / 100, sy = -pixelsPerMmY_ / 100; break;
    case kMmLoEnglish: sx = pixelsPerMmX_ * 0.254, sy = -pixelsPerMmY_ * 0.254; break;
    case kMmHiEnglish: sx = pixelsPerMmX_ * 0.0254, sy = -pixelsPerMmY_ * 0.0254; break;
    case kMmTwips: sx = pixelsPerMmX_ * 25.4 / 1440, sy = -pixelsPerMmY_ * 25.4 / 1440; break;
    case kMmIsotropic:
    case kMmAnisotropic:
        sx = state_.viewportExt.width() / state_.windowExt.width();
        sy = state_.viewportExt.height() / state_.windowExt.height();
        if (state_.mapMode == kMmIsotropic) {
            // Both axes take the smaller scale, each keeping its own sign.
            const double scale = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(scale, sx);
            sy = std::copysign(scale, sy);
        }
        break;
    default: break;
    }
    // device = (logical - windowOrg) * scale + viewportOrg
    return QTransform(sx, 0, 0, sy, state_.viewportOrg.x() - state_.windowOrg.x() * sx,
                      state_.viewportOrg.y() - state_.windowOrg.y() * sy);
}

QTransform CDeviceContext::Transform() const { return state_.world * PageTransform() * device_; }

}  // namespace metafile
