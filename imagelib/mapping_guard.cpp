#include "mapping_guard.h"

#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace {

struct Slot {
    std::atomic<uintptr_t> start{0};  // 0: free
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> tripped{false};
};

constexpr int kSlots = 256;
Slot g_slots[kSlots];
struct sigaction g_previous {};

void PassOn(int signal, siginfo_t* info, void* context) {
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN && g_previous.sa_handler != nullptr) {
        g_previous.sa_handler(signal);
        return;
    }
    // Back to the default action: the faulting access runs again and ends the process as it
    // would have without us.
    ::signal(signal, SIG_DFL);
}

// Runs in the signal handler: only lock-free atomics and system calls.
void OnBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Slot& slot : g_slots) {
        const uintptr_t start = slot.start.load(std::memory_order_acquire);
        if (start == 0 || address < start) continue;
        const uintptr_t end = slot.end.load(std::memory_order_relaxed);
        if (address >= end) continue;
        const uintptr_t page = address & ~(static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE)) - 1);
        void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
                             -1, 0);
        if (zeros == MAP_FAILED) break;
        slot.tripped.store(true, std::memory_order_relaxed);
        return;
    }
    PassOn(signal, info, context);
}

void InstallHandler() {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

bool CMappingGuard::Guard(const uint8_t* start, size_t size) {
    static std::once_flag installed;
    std::call_once(installed, InstallHandler);
    Release();
    const auto first = reinterpret_cast<uintptr_t>(start);
    for (int i = 0; i < kSlots; ++i) {
        Slot& slot = g_slots[i];
        uintptr_t expected = 0;
        // Claim the slot with a placeholder, fill it, then publish the real start.
        if (!slot.start.compare_exchange_strong(expected, UINTPTR_MAX, std::memory_order_acquire)) continue;
        slot.end.store(first + size, std::memory_order_relaxed);
        slot.tripped.store(false, std::memory_order_relaxed);
        slot.start.store(first, std::memory_order_release);
        slot_ = i;
        return true;
    }
    return false;
}

void CMappingGuard::Release() {
    if (slot_ < 0) return;
    g_slots[slot_].start.store(0, std::memory_order_release);
    slot_ = -1;
}

bool CMappingGuard::Tripped() const {
    return slot_ >= 0 && g_slots[slot_].tripped.load(std::memory_order_relaxed);
}
