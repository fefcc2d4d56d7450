#pragma once

#include "text_exception.h"

#include <string>
#include <string_view>

// The library's trace log. Off unless someone sets a level and a file; each line opens the
// file in append mode, writes and closes it, so a crash never loses the lines before it.
// The setters give the process defaults; inside a decode its context's level and file count
// (TraceLevel and TraceFileName report those of the decode running on the calling thread).
void SetTraceLevel(int level);
int TraceLevel();
void SetTraceFileName(std::string name);
std::string TraceFileName();

void Trace(int level, std::string_view text);

// printf-style formatting into a std::string; used for trace lines and error messages.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Traces "Decoder error: <text>\n" at level 0 and throws CTextException(code, that line).
[[noreturn]] void RaiseError(int code, std::string_view text);
// The same for a failure about the picture's size, which the exception carries along.
[[noreturn]] void RaiseError(int code, std::string_view text, DeclaredSize declared);
