// Implemented features: the lag of a record stream's frames behind the steady
// clock, its lowest value per window, and a loss told when that floor rises by
// more than the time spent waiting in vain explains.
#include "platform/linux/input_loss_watch.h"

#include <algorithm>

namespace {

// The lag's floor is the lowest lag over a window this long: long enough to
// hold a fragment that was taken on time whatever the reader's delays, short
// enough that a loss is told soon after the reader has caught up.
constexpr std::chrono::milliseconds WINDOW{500};
// A rise of the floor smaller than this is the reader's jitter or the
// device's clock drifting from ours (fragments arrive every 25 ms, PipeWire's
// up to 50 ms apart), not a loss.
constexpr std::chrono::milliseconds SMALLEST_LOSS{200};

}  // namespace

bool InputLossWatch::arrived(Clock::time_point now, uint32_t frames) {
    bool lost = false;
    if (now >= windowEnd_) {
        if (lowest_) {
            lost = floor_ && *lowest_ - *floor_ - quietBefore_ - quietNow_ > SMALLEST_LOSS;
            floor_ = lowest_;
            quietBefore_ = quietNow_;
            quietNow_ = {};
        }
        lowest_.reset();
        windowEnd_ = now + WINDOW;
    }
    frames_ += frames;
    const auto received =
        std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(frames_ * 1'000'000 / rate_));
    const Clock::duration lag = (now - start_) - received;
    lowest_ = lowest_ ? std::min(*lowest_, lag) : lag;
    return lost;
}
