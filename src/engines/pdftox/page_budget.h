#pragma once

#include <chrono>

namespace pdftox {

/// The time the work on one page may take: 15 seconds, or the milliseconds that the
/// environment variable LUMADOC_PAGE_BUDGET_MS gives.
std::chrono::milliseconds pageBudget();

} // namespace pdftox
