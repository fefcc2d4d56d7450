#pragma once

namespace metafile {

// Qt draws text only inside a QGuiApplication, which gives it the font database. The host
// program owns that application object (the viewer has one; `vtimg`, the tests and the fuzz
// targets make one on the "offscreen" platform); the library never creates one. Raises
// CTextException code 6 when text must be drawn and the program has no such object.
void RequireFontSupport();

}  // namespace metafile
