// Leaks a sanitizer build does not report: what third-party libraries allocate once and
// keep until the process ends. Fontconfig's configuration, loaded the first time Qt looks
// up a font (metafile text), is never freed. librsvg 2.54 never frees the entity values of
// an SVG document's type declaration (libxml2 allocates them for it). libheif 1.15 loses a
// few small dav1d buffers when dav1d refuses the AV1 data of an item
// (fuzz-regressions/heif/av1_data_dav1d_refuses_leaks.avif); nothing the caller can free.
// x265, the HEVC encoder the tests write HEIC files with, keeps its global tables for the
// process's life. Linked into the test and fuzz programs of sanitizer builds only.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:xmlParseEntityValue\n"
           "leak:libdav1d.so\n"
           "leak:libx265.so\n";
}
