#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

class CImageBitmap;

// One row of the shared corpus's check list: a real file from a public test suite, what
// a decoder must do with it, and its reference decode.
struct CorpusEntry {
    std::string file;      // absolute path
    std::string relPath;   // as listed, for messages
    std::string format;
    std::string expect;    // "ok", "bad" or "either"
    std::string reference; // absolute path of the reference PNG, empty when none
    std::string refTool;   // what made the reference ("pillow", "imagemagick", "inkscape(96dpi)", ...)
    std::string compare;   // "exact", "tol:N", "psnr:T" or "meta:M"
};

bool CorpusAvailable();
// The entries of one format (empty when the corpus is absent).
std::vector<CorpusEntry> CorpusEntries(const std::string& format);

// Compares a decoded 32-bit bitmap with the entry's reference by its compare rule, on the
// pixels the reference shows opaque (half-transparent ones may be straight, premultiplied
// or composited on white). Returns an empty string on a match, else what differs.
std::string CompareWithReference(const CImageBitmap& bitmap, const CorpusEntry& entry);

// A file whose corpus expectation the library knowingly does not follow, and why. With a
// compare rule ("tol:1"), the file must still decode and match its reference by that rule;
// without one, it may decode or fail cleanly.
struct CorpusDeviation {
    CorpusDeviation(const char* why, std::string rule = {}) : reason(why), compare(std::move(rule)) {}

    std::string reason;
    std::string compare;
};
using CorpusDeviations = std::map<std::string, CorpusDeviation>;  // by relpath

// Decodes every entry of a format at 32 bits, as stored (orientation and colours not
// applied, as the references show them): "ok" ones must match their references, "bad"
// ones must fail with a CTextException, "either" ones may do either. Listed deviations are
// held to their own rule, and each must still name a file of the corpus. Reports each
// mismatch as a test failure naming the file.
void CheckCorpusFormat(const std::string& format, const CorpusDeviations& deviations = {});
