#pragma once

namespace metafile {

// Qt draws text only inside a QGuiApplication, which gives it the font database. A viewer
// has one; a command-line program that decodes metafiles has not, so the first text a
// metafile draws starts a hidden one on the "offscreen" platform (no display needed) that
// lives until the program ends. This is the one place the image library creates an
// application object: without it no metafile text could be drawn. Returns false when text
// cannot be drawn (a non-GUI QCoreApplication already exists); the text is then skipped.
bool EnsureFontSupport();

}  // namespace metafile
