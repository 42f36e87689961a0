#pragma once
// Every sample of one take in capture order, held in memory until the take
// ends. Stored in fixed-size blocks allocated as they are needed, so growing
// never moves or copies what is already captured: a long take costs the
// recording thread one block allocation now and then, never a copy of
// hundreds of megabytes while the device keeps delivering.
// Recording thread only.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

// 4 MiB of samples a block: small next to a take, large enough that blocks are rare.
constexpr size_t TAKE_BLOCK_SAMPLES = size_t{2} << 20;

// Blocks as large as a large page start on one, so that every large page of
// a block can be one (see adviseTakeMemory).
constexpr size_t LARGE_PAGE_BYTES = size_t{2} << 20;

struct TakeBlockFree {
    std::align_val_t alignment;
    void operator()(int16_t* data) const { ::operator delete[](data, alignment); }
};
using TakeBlock = std::unique_ptr<int16_t[], TakeBlockFree>;
// Returns a block of `samples` samples or throws std::bad_alloc.
using TakeBlockAllocator = TakeBlock (*)(size_t samples);

TakeBlock allocateTakeBlock(size_t samples);

// Set once by the program before any take, or left empty: lets the system
// back a block allocated by allocateTakeBlock with large pages where it has
// them. Filling a block then costs the recording thread one page fault per
// few megabytes instead of one per few kilobytes.
using TakeMemoryAdvice = void (*)(void* data, size_t bytes);
extern TakeMemoryAdvice adviseTakeMemory;

class Take {
public:
    explicit Take(size_t blockSamples = TAKE_BLOCK_SAMPLES, TakeBlockAllocator allocate = allocateTakeBlock);

    // Appends all `count` samples or, when a block cannot be allocated, none
    // of them (std::bad_alloc propagates).
    void append(const int16_t* samples, size_t count);

    uint64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // Calls visit(data, count) for each stretch of samples in order, from
    // sample `first` up to (not including) `end`, or to the end of the take.
    template <typename Visit>
    void forEachBlock(Visit visit, uint64_t first = 0, uint64_t end = UINT64_MAX) const {
        end = std::min(end, size_);
        while (first < end) {
            const size_t offset = static_cast<size_t>(first % blockSamples_);
            const uint64_t left = end - first;
            const size_t count = static_cast<size_t>(std::min<uint64_t>(left, blockSamples_ - offset));
            visit(blocks_[static_cast<size_t>(first / blockSamples_)].get() + offset, count);
            first += count;
        }
    }

    // Gives all memory back; the take is empty afterwards.
    void clear();

private:
    size_t blockSamples_;
    TakeBlockAllocator allocate_;
    std::vector<TakeBlock> blocks_;
    uint64_t size_ = 0;
};
