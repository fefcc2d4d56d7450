#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

// Wall-clock milliseconds of one run of work.
template <typename Work>
double Milliseconds(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

inline double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

// The yardstick of the picture benchmarks: a memcpy of bytes between two buffers already in
// memory, so that a machine's memory speed is measured beside the work.
class CMemcpyBaseline {
public:
    explicit CMemcpyBaseline(size_t bytes) : from_(bytes, 1), to_(bytes, 2) {}
    // Milliseconds of one copy.
    double Time() {
        const double milliseconds = Milliseconds([&] { std::memcpy(to_.data(), from_.data(), from_.size()); });
        // Read back, so that the copy cannot be left out as unused.
        sink_ = to_.back();
        return milliseconds;
    }

private:
    std::vector<uint8_t> from_;
    std::vector<uint8_t> to_;
    volatile uint8_t sink_ = 0;
};
