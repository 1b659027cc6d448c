#include "run/SizeWorkers.h"

#include "platform/DeviceContext.h"
#include "run/CodePageTable.h"

#include <algorithm>

namespace qf {

std::unique_ptr<gdi::DeviceContext> makeRunContext(int deviceDpiX, int deviceDpiY, int codePageIndex)
{
    auto dc = std::make_unique<gdi::DeviceContext>();
    dc->setResolution(deviceDpiX, deviceDpiY);
    CodePageTable::prepareDeviceContext(codePageIndex, *dc);
    return dc;
}

SizeWorkers::SizeWorkers(int count, int deviceDpiX, int deviceDpiY, int codePageIndex)
    : window_(static_cast<size_t>(count) * 2)
{
    for (int i = 0; i < count; ++i)
        contexts_.push_back(makeRunContext(deviceDpiX, deviceDpiY, codePageIndex));
    for (size_t i = 0; i < contexts_.size(); ++i)
        threads_.emplace_back([this, context = contexts_[i].get(), largestFirst = i == 0] {
            work(*context, largestFirst);
        });
}

SizeWorkers::~SizeWorkers()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

size_t SizeWorkers::add(const FontWriter& writer, const WriteRequest& request, const std::vector<int32_t>& sizes)
{
    size_t first = 0;
    {
        std::lock_guard lock(mutex_);
        first = jobs_.size();
        for (const int32_t size : sizes) {
            Job job;
            job.writer = &writer;
            job.request = request;
            job.request.pointSize = size;
            jobs_.push_back(std::move(job));
            bySize_.push_back(jobs_.size() - 1);
        }
        // Largest last, the earlier job first among equals: the largest-first worker takes from the back.
        std::stable_sort(bySize_.begin(), bySize_.end(), [&](size_t a, size_t b) {
            const int32_t sa = jobs_[a].request.pointSize, sb = jobs_[b].request.pointSize;
            return sa != sb ? sa < sb : a > b;
        });
    }
    changed_.notify_all();
    return first;
}

RenderedSize& SizeWorkers::take(size_t job)
{
    std::unique_lock lock(mutex_);
    taken_ = std::max(taken_, job + 1);
    changed_.notify_all();  // the window moves on
    changed_.wait(lock, [&] { return jobs_[job].result.has_value(); });
    heldBytes_ -= jobs_[job].result->image.size();
    return *jobs_[job].result;
}

size_t SizeWorkers::waiting()
{
    std::lock_guard lock(mutex_);
    return jobs_.size() - std::min(taken_, jobs_.size());
}

void SizeWorkers::recycle(size_t job)
{
    std::lock_guard lock(mutex_);
    OutputSink image = std::move(jobs_[job].result->image);
    jobs_[job].result.reset();
    jobs_[job].request = WriteRequest{};  // its name and characters are not needed again
    if (spare_.size() < threads_.size()) {
        image.clear();
        spare_.push_back(std::move(image));
    }
}

std::optional<size_t> SizeWorkers::nextFor(bool largestFirst)
{
    // The largest sizes' results wait for the run to reach them: they may hold only so much.
    constexpr uint64_t kMaxHeldBytes = kMaxAllocation;
    while (!bySize_.empty() && jobs_[bySize_.back()].started)
        bySize_.pop_back();
    if (largestFirst && !bySize_.empty() && heldBytes_ < kMaxHeldBytes)
        return bySize_.back();
    while (next_ < jobs_.size() && jobs_[next_].started)
        ++next_;
    if (next_ < jobs_.size() && next_ < taken_ + window_)
        return next_;
    return std::nullopt;
}

void SizeWorkers::work(gdi::DeviceContext& dc, bool largestFirst)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        std::optional<size_t> next;
        changed_.wait(lock, [&] { return stopping_ || (next = nextFor(largestFirst)).has_value(); });
        if (stopping_)
            return;
        const size_t index = *next;
        Job& job = jobs_[index];
        job.started = true;
        // Jobs added meanwhile leave this one where it is; the run may not read it until it is done.
        const WriteRequest request = job.request;
        const FontWriter* writer = job.writer;
        RenderedSize rendered;
        if (!spare_.empty()) {
            rendered.image = std::move(spare_.back());
            spare_.pop_back();
        }
        lock.unlock();

        const uint64_t inkedBefore = dc.inkedCharacters();
        rendered.problem = writeSafely(*writer, dc, request, rendered.image);
        rendered.inked = dc.inkedCharacters() - inkedBefore;

        lock.lock();
        heldBytes_ += rendered.image.size();
        jobs_[index].result = std::move(rendered);
        changed_.notify_all();
    }
}

}  // namespace qf
