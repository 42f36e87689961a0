#include "spectrum/spectrum_relay.h"

#include <atomic>

#include "base/messages.h"
#include "base/shared_state.h"
#include "base/window_port.h"

namespace {

enum class Relay { Off, Waiting, NewSpectrum };

// One variable, so that a spectrum that comes as the relay ends is announced
// by exactly one of the two threads.
std::atomic<Relay> relay{Relay::Off};

void postSpectrum() {
    if (hwndMain) hwndMain->postMessage(WM_APP_UPDATE_SPECTRUM);
}

}  // namespace

void announceSpectrum() {
    Relay seen = Relay::Waiting;
    if (!relay.compare_exchange_strong(seen, Relay::NewSpectrum) && seen == Relay::Off) postSpectrum();
}

void relaySpectra(bool relaying) {
    if (relay.exchange(relaying ? Relay::Waiting : Relay::Off) == Relay::NewSpectrum && !relaying)
        postSpectrum();
}

bool takeNewSpectrum() {
    Relay seen = Relay::NewSpectrum;
    return relay.compare_exchange_strong(seen, Relay::Waiting);
}
