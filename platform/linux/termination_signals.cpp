// Implemented features: the termination signals' handler and its hand-over
// to the window thread; nothing but write() runs in signal context.
#include "platform/linux/termination_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <iterator>
#include <pthread.h>
#include <utility>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};
// [0] is written by the handler, [1] read on the window thread; both
// non-blocking, so a flood of signals can neither block the handler nor
// the window thread. -1 while no object lives.
int signalSocket[2] = {-1, -1};

sigset_t terminationSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : SIGNALS) sigaddset(&set, signal);
    return set;
}

}  // namespace

void holdTerminationSignals() {
    const sigset_t set = terminationSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignals::TerminationSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSocket) != 0) {
        // Without it the signals keep their default: the program ends at once.
        signalSocket[0] = signalSocket[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(signalSocket[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { receive(); });
    struct sigaction action = {};
    action.sa_handler = handle;
    sigemptyset(&action.sa_mask);
    // Calls the signal interrupts go on by themselves.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(SIGNALS); ++i) sigaction(SIGNALS[i], &action, &previous_[i]);
    // What came while they were held is handled now, through the socket.
    const sigset_t set = terminationSignalSet();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

TerminationSignals::~TerminationSignals() {
    if (!notifier_) return;
    for (size_t i = 0; i < std::size(SIGNALS); ++i) sigaction(SIGNALS[i], &previous_[i], nullptr);
    notifier_.reset();
    ::close(signalSocket[0]);
    ::close(signalSocket[1]);
    signalSocket[0] = signalSocket[1] = -1;
}

void TerminationSignals::handle(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // A full socket already holds a wake-up: losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(signalSocket[0], &byte, 1);
    errno = savedErrno;
}

void TerminationSignals::receive() {
    char bytes[64];
    bool received = false;
    while (::read(signalSocket[1], bytes, sizeof bytes) > 0) received = true;
    if (received) onSignal_();
}
