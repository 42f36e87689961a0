#include "recording/view_announcer.h"

#include <algorithm>
#include <utility>

#include "base/messages.h"
#include "base/shared_state.h"
#include "base/window_port.h"
#include "recording/live_feed.h"
#include "spectrum/spectrum_relay.h"

namespace {

// 30 times a second is as smooth as a meter needs to be, and half the
// drawing of a screen's full rate.
constexpr std::chrono::milliseconds VIEWS_INTERVAL{33};
// A level reading still short of input waits this long for the packets that
// complete it (they follow within milliseconds) before the views show the
// packets without it.
constexpr std::chrono::milliseconds LEVEL_READING_WAIT{10};
// The longest wait when nothing is to be announced.
constexpr std::chrono::milliseconds NOTHING_DUE{50};

}  // namespace

ViewAnnouncer::ViewAnnouncer(WindowPort* window, Clock::time_point now)
    : window_(window),
      lastViews_(now - VIEWS_INTERVAL),
      levelShown_(currentLevel),
      lastLevel_(lastViews_),
      readingsBeforePass_(levelReadingCount()) {
    relaySpectra(true);
}

ViewAnnouncer::~ViewAnnouncer() {
    if (spectrumPending_) window_->postMessage(WM_APP_UPDATE_SPECTRUM);
    if (viewsPending_) window_->postMessage(WM_APP_UPDATE_VISUALS);
    relaySpectra(false);
}

void ViewAnnouncer::packetFed() {
    if (takeLiveViewsChanged()) viewsPending_ = true;
}

void ViewAnnouncer::waited() { readingsBeforePass_ = levelReadingCount(); }

ViewAnnouncer::Clock::duration ViewAnnouncer::announce(Clock::time_point now,
                                                       Clock::time_point lastDelivery) {
    if (takeNewSpectrum()) spectrumPending_ = viewsPending_ = true;
    if (!viewsPending_) return NOTHING_DUE;
    const bool levelMoved = currentLevel != levelShown_;
    const Clock::duration viewsDue = lastViews_ + VIEWS_INTERVAL - now;
    Clock::duration due = levelMoved ? std::min(viewsDue, lastLevel_ + VIEWS_INTERVAL - now) : viewsDue;
    // The packets since the last wait completed no level reading: the one they
    // began (with the onset of a sound, maybe) is waited for.
    if (levelReadingUnderWay() && levelReadingCount() == readingsBeforePass_)
        due = std::max(due, lastDelivery + LEVEL_READING_WAIT - now);
    if (due > Clock::duration::zero()) return due;

    if (levelMoved) {
        levelShown_ = currentLevel;
        lastLevel_ = now;
    }
    if (viewsDue > Clock::duration::zero()) {
        window_->postMessage(WM_APP_UPDATE_LEVEL);  // the waveform waits for its turn
        return viewsDue;
    }
    if (std::exchange(spectrumPending_, false)) window_->postMessage(WM_APP_UPDATE_SPECTRUM);
    window_->postMessage(WM_APP_UPDATE_VISUALS);
    viewsPending_ = false;
    lastViews_ = now;
    return NOTHING_DUE;
}
