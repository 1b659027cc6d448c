#include "platform/BusErrorGuard.h"

#include <csignal>
#include <mutex>

#include <sys/mman.h>
#include <unistd.h>

namespace gdi::ft {

namespace {

constexpr size_t kMappedRanges = 256;
MappedRange g_mapped[kMappedRanges];
uintptr_t g_pageSize = 4096;
struct sigaction g_previousBusAction {};

extern "C" void onBusError(int signal, siginfo_t* info, void* context)
{
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (MappedRange& range : g_mapped) {
        const uintptr_t begin = range.begin.load(std::memory_order_acquire);
        if (begin == 0 || address < begin || address >= range.end.load(std::memory_order_acquire))
            continue;
        void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
        if (::mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            range.damaged.store(true, std::memory_order_release);
            return;  // the read is made again, and finds zeros
        }
    }
    // Not a font file of ours: whatever would have happened without us.
    if ((g_previousBusAction.sa_flags & SA_SIGINFO) && g_previousBusAction.sa_sigaction) {
        g_previousBusAction.sa_sigaction(signal, info, context);
    } else if (g_previousBusAction.sa_handler != SIG_DFL && g_previousBusAction.sa_handler != SIG_IGN &&
               g_previousBusAction.sa_handler) {
        g_previousBusAction.sa_handler(signal);
    } else {
        ::signal(SIGBUS, SIG_DFL);  // the faulting read is made again, and ends the program
    }
}

}  // namespace

void installBusHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0)
            g_pageSize = static_cast<uintptr_t>(page);
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previousBusAction);
    });
}

MappedRange* takeRange(const void* pages, size_t length)
{
    for (MappedRange& range : g_mapped) {
        bool expected = false;
        if (range.taken.compare_exchange_strong(expected, true)) {
            range.damaged.store(false);
            const auto begin = reinterpret_cast<uintptr_t>(pages);
            range.end.store(begin + length, std::memory_order_release);
            range.begin.store(begin, std::memory_order_release);
            return &range;
        }
    }
    return nullptr;
}

}  // namespace gdi::ft
