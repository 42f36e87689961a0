#pragma once
// Implemented features: SIGTERM, SIGINT and SIGHUP turned into a call on the
// window thread, the way Qt documents for Unix signals: the handler only
// writes a byte to a socket pair that a QSocketNotifier watches.
#include <QObject>

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

// Holds SIGTERM, SIGINT and SIGHUP back on this thread and on every thread it
// starts later, until a TerminationSignals exists: call first thing in main,
// so that a signal during start-up waits for its handler instead of ending
// the program.
void holdTerminationSignals();

class TerminationSignals final : public QObject {
public:
    // Window thread, at most one at a time. `onSignal` runs on the window
    // thread after signals arrived while this object lives, or while they
    // were held before it; signals that arrive together may give one call.
    explicit TerminationSignals(std::function<void()> onSignal);
    // Puts the previous dispositions back, then closes the socket pair.
    ~TerminationSignals() override;

private:
    static void handle(int);
    void receive();

    std::function<void()> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[3];
};
