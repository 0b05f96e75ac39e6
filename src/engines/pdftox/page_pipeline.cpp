#include "page_pipeline.h"

#include <atomic>
#include <cstdlib>
#include <utility>

namespace pdftox {
namespace {

// Lock-free, so that a signal handler may bump it.
std::atomic<unsigned> g_stopGeneration{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

} // namespace

namespace {
std::mutex g_cutShortMutex;
std::vector<int> g_cutShort;
} // namespace

std::vector<int> takePagesCutShort() {
    std::lock_guard lock(g_cutShortMutex);
    return std::exchange(g_cutShort, {});
}

void notePageCutShort(int page) {
    std::lock_guard lock(g_cutShortMutex);
    g_cutShort.push_back(page);
}

PageBudget::PageBudget(unsigned generation) : m_previous(currentPageCookie()) {
    setCurrentPageCookie(&m_cookie);
    const auto deadline = std::chrono::steady_clock::now() + pageBudget();
    m_watch = std::thread([this, deadline, generation] {
        std::unique_lock lock(m_mutex);
        while (!m_finished) {
            if (std::chrono::steady_clock::now() >= deadline) {
                m_exceeded = true;
                m_cookie.abort = 1;
                return;
            }
            if (stopRequestedSince(generation)) {
                m_cookie.abort = 1;
                return;
            }
            // A stop request wakes nobody: look again every 50 ms.
            m_done.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                           std::chrono::milliseconds(50)));
        }
    });
}

PageBudget::~PageBudget() {
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
    m_watch.join();
    setCurrentPageCookie(m_previous);
}

void requestStop() {
    g_stopGeneration.fetch_add(1, std::memory_order_relaxed);
}

unsigned stopGeneration() {
    return g_stopGeneration.load(std::memory_order_relaxed);
}

bool stopRequestedSince(unsigned generation) {
    return g_stopGeneration.load(std::memory_order_relaxed) != generation;
}

} // namespace pdftox
