#include "run/SizeWorkers.h"

#include "platform/DeviceContext.h"
#include "run/CodePageTable.h"

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
    for (auto& dc : contexts_)
        threads_.emplace_back([this, context = dc.get()] { work(*context); });
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
        next_ = 0;
        taken_ = 0;
    }
    changed_.notify_all();
}

RenderedSize& SizeWorkers::take(size_t index)
{
    std::unique_lock lock(mutex_);
    taken_ = std::max(taken_, index + 1);
    changed_.notify_all();  // the window moves on
    changed_.wait(lock, [&] { return results_[index].has_value(); });
    return *results_[index];
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

void SizeWorkers::work(gdi::DeviceContext& dc)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || (next_ < sizes_.size() && next_ < taken_ + window_); });
        if (stopping_)
            return;
        const size_t index = next_++;
        WriteRequest request = request_;
        request.pointSize = sizes_[index];
        const FontWriter* writer = writer_;
        ++busy_;
        lock.unlock();

        RenderedSize rendered;
        rendered.problem = writer->write(dc, request, rendered.image);

        lock.lock();
        results_[index] = std::move(rendered);
        --busy_;
        changed_.notify_all();
    }
}

}  // namespace qf
