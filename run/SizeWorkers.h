// Renders the sizes of the run's fonts on worker threads while the run writes those before them.
// The run hands over each font's sizes as jobs, in its own order, and may hand over later fonts
// before it reaches them (a collection of small fonts at one size keeps every worker busy only so);
// it takes the results in that order, so files, progress and stopping happen in the same order as
// when one thread does everything. Each worker draws on a device context of its own (FreeType
// faces are never shared between threads). One worker starts from the largest size handed over,
// which takes longest, the others from the first: begun last, the largest would finish alone.
#pragma once

#include "formats/FontWriter.h"

#include <condition_variable>
#include <deque>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace gdi {
class DeviceContext;
}

namespace qf {

// A device context set up as the run's own (its resolution and OEM code page), for a thread that
// draws for the run.
std::unique_ptr<gdi::DeviceContext> makeRunContext(int deviceDpiX, int deviceDpiY, int codePageIndex);

struct RenderedSize {
    WriteProblem problem;
    OutputSink image;
    uint64_t inked = 0;  // characters that drew ink making it
};

class SizeWorkers {
public:
    // count threads, their device contexts set up as the run's (its resolution and OEM code page).
    SizeWorkers(int count, int deviceDpiX, int deviceDpiY, int codePageIndex);
    ~SizeWorkers();
    SizeWorkers(const SizeWorkers&) = delete;
    SizeWorkers& operator=(const SizeWorkers&) = delete;

    // Hands over the sizes of one font; the number of the first one's job (the others follow).
    size_t add(const FontWriter& writer, const WriteRequest& request, const std::vector<int32_t>& sizes);
    // The result of a job, waiting for it; valid until the job is recycled.
    RenderedSize& take(size_t job);
    // Jobs handed over that the run has not taken yet.
    size_t waiting();
    // Hands back the memory of a result the run is done with, for a later job to write into:
    // a fresh block for every size cost a page fault for every page of it.
    void recycle(size_t job);

    int count() const { return static_cast<int>(threads_.size()); }

private:
    struct Job {
        const FontWriter* writer = nullptr;
        WriteRequest request;
        bool started = false;
        std::optional<RenderedSize> result;
    };

    void work(gdi::DeviceContext& dc, bool largestFirst);
    // The job a worker may start now, if any (called with the mutex held).
    std::optional<size_t> nextFor(bool largestFirst);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;  // a deque: results taken stay where they are as jobs are added
    std::vector<size_t> bySize_;  // jobs not yet started, largest size last
    size_t next_ = 0;             // where the workers that go in order look next
    size_t taken_ = 0;            // jobs the run has asked for
    size_t window_ = 0;           // how far ahead of the run the workers that go in order may go
    uint64_t heldBytes_ = 0;      // of results done but not yet taken
    std::vector<OutputSink> spare_;  // memory of results written, cleared
    bool stopping_ = false;
    std::vector<std::unique_ptr<gdi::DeviceContext>> contexts_;
    std::vector<std::thread> threads_;
};

}  // namespace qf
