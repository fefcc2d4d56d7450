// Leaks a sanitizer build does not report: what third-party libraries allocate once and
// keep until the process ends. Fontconfig's configuration, loaded the first time Qt looks
// up a font (metafile text), is never freed. librsvg 2.54 never frees the entity values of
// an SVG document's type declaration (libxml2 allocates them for it). Linked into the test
// and fuzz programs of sanitizer builds only.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:xmlParseEntityValue\n";
}
