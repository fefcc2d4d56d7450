#include "viewer/decode_failure_text.h"

#include "imagelib/text_exception.h"

#include <limits>

namespace {

QSize ToSize(int64_t width, int64_t height) {
    constexpr int64_t kLargest = std::numeric_limits<int>::max();
    if (width <= 0 || height <= 0 || width > kLargest || height > kLargest) return {};
    return {static_cast<int>(width), static_cast<int>(height)};
}

}  // namespace

QString DecodeFailureText(const QString& fileName, int code, QSize declaredSize) {
    if (code != ERR_OUT_OF_MEMORY) return QStringLiteral("This file has invalid data.\n") + fileName;
    if (declaredSize.isEmpty()) return QStringLiteral("This picture is too large to show.\n") + fileName;
    return QStringLiteral("This picture is too large to show (%1 \u00D7 %2 pixels).\n")
               .arg(declaredSize.width())
               .arg(declaredSize.height()) +
           fileName;
}

QSize DeclaredSizeOf(const CTextException& failure) {
    if (failure.Code() != ERR_OUT_OF_MEMORY) return {};
    return ToSize(failure.Declared().width, failure.Declared().height);
}
