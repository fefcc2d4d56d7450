// vtimg: the image library from the command line.
//
//   vtimg [--trace LEVEL FILE] info FILE...
//   vtimg [--trace LEVEL FILE] convert INPUT OUTPUT.bmp [--depth 0|8|32]
//   vtimg [--trace LEVEL FILE] bench FILE [--runs N]
//
// Exit status: 0 on success, 1 when the library reports an error, 2 on wrong usage.

#include "codecs/auto_decoder.h"
#include "imagelib/image_encoder.h"
#include "imagelib/mem_bitmap.h"
#include "imagelib/text_exception.h"
#include "imagelib/trace.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kUsageError = 2;

int Usage() {
    std::fputs("usage: vtimg [--trace LEVEL FILE] info FILE...\n"
               "       vtimg [--trace LEVEL FILE] convert INPUT OUTPUT.bmp [--depth 0|8|32]\n"
               "       vtimg [--trace LEVEL FILE] bench FILE [--runs N]\n",
               stderr);
    return kUsageError;
}

void PrintError(const std::string& file, const CTextException& e) {
    std::string text = e.Text();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::fprintf(stderr, "%s: code %d: %s\n", file.c_str(), e.Code(), text.c_str());
}

bool ParseInt(const std::string& text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<int>(parsed);
    return true;
}

int Info(const std::vector<std::string>& files) {
    if (files.empty()) return Usage();
    int status = 0;
    CAutoDecoder decoder;
    for (const std::string& file : files) {
        CMemBitmap bitmap;
        try {
            decoder.DecodeFile(file, bitmap, 0);
            std::printf("%s: %s %d x %d, %d bits per pixel, %s\n", file.c_str(), FormatName(decoder.LastFormat()),
                        bitmap.Width(), bitmap.Height(), bitmap.BitsPerPixel(), bitmap.HasAlpha() ? "alpha" : "no alpha");
        } catch (const CTextException& e) {
            PrintError(file, e);
            status = 1;
        }
    }
    return status;
}

int Convert(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    int depth = 32;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--depth" && i + 1 < args.size()) {
            if (!ParseInt(args[++i], depth) || (depth != 0 && depth != 8 && depth != 32)) return Usage();
        } else if (args[i].starts_with("--")) {
            return Usage();
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2) return Usage();
    try {
        CAutoDecoder decoder;
        CMemBitmap bitmap;
        decoder.DecodeFile(files[0], bitmap, depth);
        CBMPEncoder encoder;
        encoder.EncodeFile(files[1], bitmap);
    } catch (const CTextException& e) {
        PrintError(files[0], e);
        return 1;
    }
    return 0;
}

int Bench(const std::vector<std::string>& args) {
    std::string file;
    int runs = 10;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size()) {
            if (!ParseInt(args[++i], runs) || runs < 1) return Usage();
        } else if (file.empty() && !args[i].starts_with("--")) {
            file = args[i];
        } else {
            return Usage();
        }
    }
    if (file.empty()) return Usage();
    std::vector<double> times;
    try {
        CAutoDecoder decoder;
        // One bitmap for every run, as the viewer keeps one for the current picture.
        CMemBitmap bitmap;
        for (int i = 0; i < runs; ++i) {
            const auto start = std::chrono::steady_clock::now();
            decoder.DecodeFile(file, bitmap, 32);
            const auto stop = std::chrono::steady_clock::now();
            times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
        }
    } catch (const CTextException& e) {
        PrintError(file, e);
        return 1;
    }
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    std::printf("%.3f\n", median);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 3 && args[0] == "--trace") {
        int level = 0;
        if (!ParseInt(args[1], level)) return Usage();
        SetTraceLevel(level);
        SetTraceFileName(args[2]);
        args.erase(args.begin(), args.begin() + 3);
    }
    if (args.empty()) return Usage();
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "info") return Info(args);
    if (command == "convert") return Convert(args);
    if (command == "bench") return Bench(args);
    return Usage();
}
