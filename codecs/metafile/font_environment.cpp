#include "font_environment.h"

#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <QGuiApplication>

namespace metafile {

void RequireFontSupport() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) return;
    RaiseError(ERR_FEATURE_UNAVAILABLE,
               "The picture holds text, and this program has no font support to draw it (no QGuiApplication).");
}

}  // namespace metafile
