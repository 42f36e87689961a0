#pragma once
// Implemented features: the system kept from sleeping for idleness while the
// object lives, told why ("Quorvel", "Recording a take"): through the
// desktop portal on the session bus, else through logind on the system bus.
// No bus, no such service or a refusal: nothing is held and nothing is said.
#include <QDBusUnixFileDescriptor>
#include <QString>

class SleepInhibitor {
public:
    // Window thread. Asks on the buses synchronously: each service that does
    // not answer costs at most INHIBIT_TIMEOUT_MS, a missing one nothing.
    SleepInhibitor();
    // Gives the inhibitor back without waiting for an answer.
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    static constexpr int INHIBIT_TIMEOUT_MS = 1000;

private:
    bool askPortal();
    bool askLogind();

    // The portal's request object for the inhibition; closing it releases.
    QString portalRequest_;
    // logind's inhibitor is this descriptor (our copy of it): it holds while
    // any copy is open, and QDBusUnixFileDescriptor closes ours with it.
    QDBusUnixFileDescriptor logindInhibitor_;
};
