#pragma once
// When the recording thread tells the window that the live views changed.
// Each panel is repainted at most every 33 ms however many packets arrive,
// and as soon as that allows: the level meter on its own while the waveform
// still waits for its turn, so that a sound's onset shows at once. Views that
// did not change are not announced at all. A new spectrum goes with the next
// views while the take captures. Recording thread only.
#include <chrono>
#include <cstdint>

class WindowPort;

class ViewAnnouncer {
public:
    using Clock = std::chrono::steady_clock;

    ViewAnnouncer(WindowPort* window, Clock::time_point now);
    // Every way out of capture shows what was captured last.
    ~ViewAnnouncer();
    ViewAnnouncer(const ViewAnnouncer&) = delete;
    ViewAnnouncer& operator=(const ViewAnnouncer&) = delete;

    // After each packet has been fed to the live views.
    void packetFed();
    // When no packet is waiting: announces what is due, and says how long the
    // thread may wait for packets before the next announcement is due.
    Clock::duration announce(Clock::time_point now, Clock::time_point lastDelivery);
    // After each wait for packets.
    void waited();

private:
    WindowPort* window_;
    bool viewsPending_ = false;     // not announced yet
    bool spectrumPending_ = false;  // a new spectrum, announced with the next views
    Clock::time_point lastViews_;
    // The level as last announced, and when: the meter has a ceiling of its own.
    float levelShown_;
    Clock::time_point lastLevel_;
    uint64_t readingsBeforePass_;
};
