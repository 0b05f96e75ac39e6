#include "page_pipeline.h"

#include <atomic>

namespace pdftox {
namespace {

// Lock-free, so that a signal handler may bump it.
std::atomic<unsigned> g_stopGeneration{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

} // namespace

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
