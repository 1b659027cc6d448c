// Renders the sizes of one font on worker threads while the run writes the sizes before them.
// Each worker draws on a device context of its own (FreeType faces are never shared between
// threads); the run takes the results in size order, so files, progress and stopping happen in the
// same order as when one thread does everything. One worker starts from the largest size, which
// takes longest, the others from the first: begun last, the largest would finish alone.
#pragma once

#include "formats/FontWriter.h"

#include <condition_variable>
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

struct RenderedSize {
    WriteProblem problem;
    OutputSink image;
};

class SizeWorkers {
public:
    // count threads, their device contexts set up as the run's (its resolution and OEM code page).
    SizeWorkers(int count, int deviceDpiX, int deviceDpiY, int codePageIndex);
    ~SizeWorkers();
    SizeWorkers(const SizeWorkers&) = delete;
    SizeWorkers& operator=(const SizeWorkers&) = delete;

    // Starts on the sizes of one font, after the previous font's work has ended.
    void begin(const FontWriter& writer, const WriteRequest& request, const std::vector<int32_t>& sizes);
    // The result of sizes[index], waiting for it; valid until the next begin().
    RenderedSize& take(size_t index);
    // Characters that drew ink on the workers' device contexts so far.
    uint64_t inkedCharacters();
    // Hands back the memory of a result the run is done with, for a later size to write into:
    // a fresh block for every size cost a page fault for every page of it.
    void recycle(OutputSink&& image);

private:
    void work(gdi::DeviceContext& dc, bool largestFirst);
    void finishFont(std::unique_lock<std::mutex>& lock);
    // The size a worker may start now, if any (called with the mutex held).
    std::optional<size_t> nextFor(bool largestFirst);

    std::mutex mutex_;
    std::condition_variable changed_;
    const FontWriter* writer_ = nullptr;
    WriteRequest request_;
    std::vector<int32_t> sizes_;
    std::vector<std::optional<RenderedSize>> results_;
    std::vector<bool> started_;
    std::vector<size_t> bySize_;  // indices of the sizes, largest first
    size_t next_ = 0;             // where the workers that go in order look next
    size_t nextLargest_ = 0;      // where the worker that starts from the largest looks next (in bySize_)
    size_t taken_ = 0;            // sizes the run has asked for
    size_t window_ = 0;           // how far ahead of the run the workers that go in order may go
    uint64_t heldBytes_ = 0;      // of results done but not yet taken
    std::vector<OutputSink> spare_;  // memory of results written, cleared
    int busy_ = 0;          // workers rendering now
    bool stopping_ = false;
    std::vector<std::unique_ptr<gdi::DeviceContext>> contexts_;
    std::vector<std::thread> threads_;
};

}  // namespace qf
