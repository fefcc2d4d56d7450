#pragma once

#include <cstddef>
#include <cstdint>

// Whether data (the first bytes of a file) holds an SVG root element before its end: after
// an optional byte order mark, XML declaration, comments, processing instructions, document
// type declaration and white space, `<svg` (or a namespace prefix's `<x:svg`) followed by
// white space, `>` or `/`.
bool LooksLikeSvg(const uint8_t* data, size_t size);
