#include "trace.h"

#include "text_exception.h"

#include <cstdarg>
#include <cstdio>
#include <memory>

namespace {
int g_traceLevel = 0;
std::string& TraceFile() {
    static std::string name;
    return name;
}
}  // namespace

void SetTraceLevel(int level) { g_traceLevel = level; }
int TraceLevel() { return g_traceLevel; }
void SetTraceFileName(std::string name) { TraceFile() = std::move(name); }
const std::string& TraceFileName() { return TraceFile(); }

void Trace(int level, std::string_view text) {
    if (g_traceLevel < level || TraceFile().empty()) return;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(TraceFile().c_str(), "a"), &std::fclose);
    if (!file) return;
    std::fwrite(text.data(), 1, text.size(), file.get());
}

std::string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string result;
    if (length > 0) {
        result.resize(static_cast<size_t>(length));
        std::vsnprintf(result.data(), result.size() + 1, format, args);
    }
    va_end(args);
    return result;
}

void RaiseError(int code, std::string_view text) {
    std::string message = "Decoder error: ";
    message.append(text);
    message.push_back('\n');
    Trace(0, message);
    throw CTextException(code, std::move(message));
}
