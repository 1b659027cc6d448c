#include "run/SizeWorkers.h"

#include "platform/DeviceContext.h"
#include "run/CodePageTable.h"

#include <algorithm>
#include <numeric>

namespace qf {

SizeWorkers::SizeWorkers(int count, int deviceDpiX, int deviceDpiY, int codePageIndex)
    : window_(static_cast<size_t>(count) * 2)
{
    for (int i = 0; i < count; ++i) {
        auto dc = std::make_unique<gdi::DeviceContext>();
        dc->setResolution(deviceDpiX, deviceDpiY);
        CodePageTable::prepareDeviceContext(codePageIndex, *dc);
        contexts_.push_back(std::move(dc));
    }
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

void SizeWorkers::finishFont(std::unique_lock<std::mutex>& lock)
{
    // Sizes not yet started are given up; those being drawn are waited for.
    next_ = sizes_.size();
    nextLargest_ = bySize_.size();
    changed_.wait(lock, [this] { return busy_ == 0; });
}

void SizeWorkers::begin(const FontWriter& writer, const WriteRequest& request, const std::vector<int32_t>& sizes)
{
    {
        std::unique_lock lock(mutex_);
        finishFont(lock);
        writer_ = &writer;
        request_ = request;
        sizes_ = sizes;
        results_.clear();
        results_.resize(sizes.size());
        started_.assign(sizes.size(), false);
        bySize_.resize(sizes.size());
        std::iota(bySize_.begin(), bySize_.end(), size_t{0});
        std::stable_sort(bySize_.begin(), bySize_.end(), [&](size_t a, size_t b) { return sizes[a] > sizes[b]; });
        next_ = 0;
        nextLargest_ = 0;
        taken_ = 0;
        heldBytes_ = 0;
    }
    changed_.notify_all();
}

RenderedSize& SizeWorkers::take(size_t index)
{
    std::unique_lock lock(mutex_);
    taken_ = std::max(taken_, index + 1);
    changed_.notify_all();  // the window moves on
    changed_.wait(lock, [&] { return results_[index].has_value(); });
    heldBytes_ -= results_[index]->image.size();
    return *results_[index];
}

void SizeWorkers::recycle(OutputSink&& image)
{
    std::lock_guard lock(mutex_);
    if (spare_.size() < threads_.size()) {
        image.clear();
        spare_.push_back(std::move(image));
    }
}

std::optional<size_t> SizeWorkers::nextFor(bool largestFirst)
{
    // The largest sizes' results wait for the run to reach them: they may hold only so much.
    constexpr uint64_t kMaxHeldBytes = kMaxAllocation;
    while (nextLargest_ < bySize_.size() && started_[bySize_[nextLargest_]])
        ++nextLargest_;
    if (largestFirst && nextLargest_ < bySize_.size() && heldBytes_ < kMaxHeldBytes)
        return bySize_[nextLargest_];
    while (next_ < sizes_.size() && started_[next_])
        ++next_;
    if (next_ < sizes_.size() && next_ < taken_ + window_)
        return next_;
    return std::nullopt;
}

uint64_t SizeWorkers::inkedCharacters()
{
    std::unique_lock lock(mutex_);
    finishFont(lock);
    uint64_t sum = 0;
    for (const auto& dc : contexts_)
        sum += dc->inkedCharacters();
    return sum;
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
        started_[index] = true;
        WriteRequest request = request_;
        request.pointSize = sizes_[index];
        const FontWriter* writer = writer_;
        ++busy_;
        RenderedSize rendered;
        if (!spare_.empty()) {
            rendered.image = std::move(spare_.back());
            spare_.pop_back();
        }
        lock.unlock();

        rendered.problem = writeSafely(*writer, dc, request, rendered.image);

        lock.lock();
        heldBytes_ += rendered.image.size();
        results_[index] = std::move(rendered);
        --busy_;
        changed_.notify_all();
    }
}

}  // namespace qf
