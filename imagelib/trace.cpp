#include "trace.h"

#include "decode_context.h"
#include "text_exception.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>

namespace {

std::atomic<int> g_traceLevel{0};
std::mutex g_traceFileMutex;
std::string g_traceFileName;

void Append(const std::string& fileName, std::string_view text) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(fileName.c_str(), "a"), &std::fclose);
    if (!file) return;
    std::fwrite(text.data(), 1, text.size(), file.get());
}

}  // namespace

void SetTraceLevel(int level) { g_traceLevel.store(level, std::memory_order_relaxed); }

int TraceLevel() {
    if (const CDecodeContext* context = ActiveDecodeContext()) return context->traceLevel;
    return g_traceLevel.load(std::memory_order_relaxed);
}

void SetTraceFileName(std::string name) {
    const std::lock_guard lock(g_traceFileMutex);
    g_traceFileName = std::move(name);
}

std::string TraceFileName() {
    if (const CDecodeContext* context = ActiveDecodeContext()) return context->traceFileName;
    const std::lock_guard lock(g_traceFileMutex);
    return g_traceFileName;
}

void Trace(int level, std::string_view text) {
    if (const CDecodeContext* context = ActiveDecodeContext()) {
        if (context->traceLevel >= level && !context->traceFileName.empty()) Append(context->traceFileName, text);
        return;
    }
    if (g_traceLevel.load(std::memory_order_relaxed) < level) return;
    const std::string fileName = TraceFileName();
    if (!fileName.empty()) Append(fileName, text);
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

void RaiseError(int code, std::string_view text) { RaiseError(code, text, DeclaredSize{}); }

void RaiseError(int code, std::string_view text, DeclaredSize declared) {
    std::string message = "Decoder error: ";
    message.append(text);
    message.push_back('\n');
    Trace(0, message);
    throw CTextException(code, std::move(message), declared);
}
