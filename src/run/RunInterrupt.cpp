#include "run/RunInterrupt.h"

#include <atomic>

namespace RunInterrupt {
namespace {

// The one thing a signal handler may touch: lock-free atomics, process-wide by nature of the signal.
std::atomic<int> g_count{0};
std::atomic<int> g_endingSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the count is written from a signal handler");

void onSignal(int signal)
{
    if (signal == SIGINT) {
        g_count.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    int none = 0;
    g_endingSignal.compare_exchange_strong(none, signal, std::memory_order_relaxed);
    g_count.fetch_add(2, std::memory_order_relaxed);
}

} // namespace

Handlers::Handlers(std::initializer_list<int> numbers, void (*handler)(int), int flags)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    m_previous.reserve(numbers.size());
    for (const int signal : numbers) {
        struct sigaction previous {};
        if (sigaction(signal, &action, &previous) == 0)
            m_previous.emplace_back(signal, previous);
    }
}

Handlers::~Handlers()
{
    for (const auto& [signal, previous] : m_previous)
        sigaction(signal, &previous, nullptr);
}

// Restarted calls: a read or write the signal lands in goes on; the run looks at the count itself. A write
// to a closed pipe fails with EPIPE instead of ending the process.
Scope::Scope() : m_handlers({SIGINT, SIGTERM, SIGHUP, SIGPIPE}, &onSignal, SA_RESTART) {}

int count()
{
    return g_count.load(std::memory_order_relaxed);
}

int endingSignal()
{
    return g_endingSignal.load(std::memory_order_relaxed);
}

} // namespace RunInterrupt
