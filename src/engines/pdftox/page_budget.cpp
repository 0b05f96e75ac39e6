#include "page_budget.h"

#include <cstdlib>

namespace pdftox {

std::chrono::milliseconds pageBudget() {
    const char* given = std::getenv("LUMADOC_PAGE_BUDGET_MS");
    const long ms = given ? std::strtol(given, nullptr, 10) : 0;
    return std::chrono::milliseconds(ms > 0 ? ms : 15000);
}

} // namespace pdftox
