#pragma once

#include "atomic_file.h"
#include "mupdf.h"
#include "page_budget.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pdftox {

/// Asks the page runs in progress to stop after the pages in hand (async-signal-safe).
void requestStop();

/// A run that began at stop generation `generation` has been asked to stop.
bool stopRequestedSince(unsigned generation);
unsigned stopGeneration();

/// The pages cut short (PageBudget) since the last call, in the order they ended; the list
/// starts empty again.
std::vector<int> takePagesCutShort();
void notePageCutShort(int page);

/// Watches the work on one page on the calling thread: once the page's budget is spent, or a
/// stop is requested, MuPDF's interpreter is told through the page's cookie (which drawPage
/// and readPageText pass on) to stop, so that the page ends with what it has drawn. A page
/// whose forms draw one another a billion times otherwise never ends.
class PageBudget {
public:
    explicit PageBudget(unsigned stopGeneration);
    ~PageBudget();
    PageBudget(const PageBudget&) = delete;
    PageBudget& operator=(const PageBudget&) = delete;
    /// The page ran out of time and was cut short.
    bool exceeded() const { return m_exceeded.load(); }

private:
    fz_cookie m_cookie{};
    fz_cookie* m_previous = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::atomic<bool> m_exceeded{false};
    std::thread m_watch;
};

/// What a worker needs to open its own copy of a document.
struct DocumentSource {
    std::string path;
    std::string password;
};

/// Works off the pages first..last (all inside the document) on worker threads, each with a
/// cloned context and its own copy of the document, and hands the results to `deliver` on the
/// calling thread in page order. A page whose work failed arrives as an empty optional; one that
/// failed to write its output (WriteError) ends the run with that error instead.
/// `deliver` returns false to stop the run early; requestStop() stops it too, after the pages
/// in hand, and makes runPages return false (it returns true otherwise). At most a few pages beyond
/// the one awaited are in flight, so memory stays bounded whatever the page count. Each page's
/// work runs under a PageBudget; the pages cut short are noted (takePagesCutShort).
template <typename Result>
bool runPages(const DocumentSource& source, int first, int last,
              const std::function<Result(fz_context*, fz_document*, int page)>& work,
              const std::function<bool(int page, std::optional<Result>&&)>& deliver) {
    if (first > last) {
        return true;
    }
    const unsigned generation = stopGeneration();
    const int pages = last - first + 1;
    const int workers =
        std::max(1, std::min<int>(pages, int(std::max(1u, std::thread::hardware_concurrency()))));
    const int window = 2 * workers;

    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, std::optional<Result>> ready;
    std::map<int, std::exception_ptr> writeFailures;
    int nextPage = first;
    int awaited = first;
    bool stop = false;

    auto workerMain = [&] {
        std::optional<ThreadContext> context;
        DocumentPtr doc(nullptr, {nullptr});
        try {
            context.emplace();
            doc = openPdf(context->get(), source.path);
            if (unlock(context->get(), doc.get(), source.password) != Access::Open) {
                doc.reset();
            }
        } catch (const std::exception&) {
            doc.reset();
        }
        while (true) {
            int page = 0;
            {
                std::unique_lock lock(mutex);
                changed.wait(
                    lock, [&] { return stop || nextPage > last || nextPage < awaited + window; });
                if (stop || nextPage > last || stopRequestedSince(generation)) {
                    return;
                }
                page = nextPage++;
            }
            std::optional<Result> result;
            std::exception_ptr writeFailure;
            bool exceeded = false;
            if (doc) {
                try {
                    const PageBudget budget(generation);
                    result = work(context->get(), doc.get(), page);
                    exceeded = budget.exceeded();
                } catch (const WriteError&) {
                    // A page that could not be written (a full disk) fails the run: it is not
                    // a page that could not be read.
                    writeFailure = std::current_exception();
                } catch (const std::exception&) {
                    result.reset();
                }
            }
            {
                std::lock_guard lock(mutex);
                ready.emplace(page, std::move(result));
                if (writeFailure) {
                    writeFailures.emplace(page, writeFailure);
                }
            }
            if (exceeded) {
                notePageCutShort(page);
            }
            changed.notify_all();
        }
    };

    std::vector<std::jthread> threads;
    threads.reserve(size_t(workers));
    try {
        for (int i = 0; i < workers; ++i) {
            threads.emplace_back(workerMain);
        }
    } catch (...) {
        // The workers already started would wait for pages nobody awaits: stop them first.
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        changed.notify_all();
        threads.clear();
        throw;
    }

    // A failure of `deliver` must still stop and join the workers before it leaves.
    std::exception_ptr failure;
    bool stopped = false;
    for (int page = first; page <= last; ++page) {
        std::optional<Result> result;
        {
            std::unique_lock lock(mutex);
            // A stop request wakes nobody: the wait looks again every few milliseconds.
            while (ready.count(page) == 0) {
                if (stopRequestedSince(generation)) {
                    stopped = true;
                    break;
                }
                changed.wait_for(lock, std::chrono::milliseconds(20));
            }
            if (stopped) {
                break;
            }
            auto it = ready.find(page);
            result = std::move(it->second);
            ready.erase(it);
            awaited = page + 1;
            if (const auto written = writeFailures.find(page); written != writeFailures.end()) {
                failure = written->second;
            }
        }
        changed.notify_all();
        if (failure) {
            break;
        }
        bool more = false;
        try {
            more = deliver(page, std::move(result));
        } catch (...) {
            failure = std::current_exception();
        }
        if (!more) {
            break;
        }
    }
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    changed.notify_all();
    threads.clear();
    if (failure) {
        std::rethrow_exception(failure);
    }
    return !stopped;
}

} // namespace pdftox
