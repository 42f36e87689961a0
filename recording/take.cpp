#include "recording/take.h"

#include <algorithm>
#include <cstring>

TakeMemoryAdvice adviseTakeMemory = nullptr;

TakeBlock allocateTakeBlock(size_t samples) {
    const size_t bytes = samples * sizeof(int16_t);
    const std::align_val_t alignment{bytes >= LARGE_PAGE_BYTES ? LARGE_PAGE_BYTES : alignof(std::max_align_t)};
    TakeBlock block(static_cast<int16_t*>(::operator new[](bytes, alignment)), TakeBlockFree{alignment});
    if (adviseTakeMemory) adviseTakeMemory(block.get(), bytes);
    return block;
}

Take::Take(size_t blockSamples, TakeBlockAllocator allocate)
    : blockSamples_(blockSamples), allocate_(allocate) {
    // Room for the pointers of a take at the WAV size limit, so that the list
    // itself never grows during a take either.
    blocks_.reserve(static_cast<size_t>(std::min<uint64_t>((uint64_t{1} << 31) / blockSamples_ + 2, 4096)));
}

void Take::append(const int16_t* samples, size_t count) {
    // Every block the packet needs first, so a failure leaves the take as it was.
    const uint64_t needed = (size_ + count + blockSamples_ - 1) / blockSamples_;
    while (blocks_.size() < needed) blocks_.push_back(allocate_(blockSamples_));

    while (count != 0) {
        const size_t offset = static_cast<size_t>(size_ % blockSamples_);
        const size_t n = std::min(count, blockSamples_ - offset);
        std::memcpy(blocks_[static_cast<size_t>(size_ / blockSamples_)].get() + offset, samples,
                    n * sizeof(int16_t));
        samples += n;
        count -= n;
        size_ += n;
    }
}

void Take::clear() {
    std::vector<TakeBlock>().swap(blocks_);
    size_ = 0;
}
