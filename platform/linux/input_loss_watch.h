#pragma once
// Implemented features: noticing input a sound server threw away because its
// record stream was not read in time.
//
// PulseAudio, and PipeWire's PulseAudio server, drop a record stream's new
// data without a word when its buffer is full (libpulse's overflow notice is
// for playback streams only). The loss shows instead as a lasting rise in how
// far the frames received lag behind the steady clock. A reader that is late
// raises the lag only until it has caught up; a device that delivers nothing
// for a while (a suspended sink, a stalled server) raises it for as long as
// the reader waited in vain. What is left of a rise is input lost.
//
// Recording thread only; one watch per stream.
#include <chrono>
#include <cstdint>
#include <optional>

class InputLossWatch {
public:
    using Clock = std::chrono::steady_clock;

    // The stream was ready at `start` and delivers `rate` frames per second.
    InputLossWatch(Clock::time_point start, uint32_t rate) : start_(start), rate_(rate) {}

    // `frames` more frames were taken at `now`. True when input was lost
    // since the window before the last one; each loss is told once.
    bool arrived(Clock::time_point now, uint32_t frames);

    // The reader waited `waited` for the server and nothing came.
    void waitedInVain(Clock::duration waited) { quietNow_ += waited; }

private:
    Clock::time_point start_;
    uint32_t rate_;
    uint64_t frames_ = 0;                    // taken since start_
    std::optional<Clock::duration> floor_;   // the lowest lag of the last window closed
    std::optional<Clock::duration> lowest_;  // of the window open now
    Clock::time_point windowEnd_ = start_;   // the open window closes at the first arrival after this
    Clock::duration quietBefore_{};          // waited in vain during the last window closed
    Clock::duration quietNow_{};             // ... since it closed
};
