#include "quitsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int handledSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The one thing a signal handler can reach: the writing end of the pair.
int signalWriteFd = -1;

void onSignal(int signal) {
    const int saved = errno;
    const char number = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalWriteFd, &number, 1);
    errno = saved;
}

sigset_t handledSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : handledSignals)
        sigaddset(&set, signal);
    return set;
}

} // namespace

void QuitSignals::holdBack() {
    const sigset_t set = handledSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent) {
    const sigset_t set = handledSet();
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds_) != 0) {
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr); // the signals keep their default action
        return;
    }
    signalWriteFd = fds_[0];
    notifier_ = new QSocketNotifier(fds_[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::readSignal);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : handledSignals)
        ::sigaction(signal, &action, nullptr);
    // A signal held back since the start is delivered now, to the handler.
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

QuitSignals::~QuitSignals() {
    if (!notifier_)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : handledSignals)
        ::sigaction(signal, &action, nullptr);
    signalWriteFd = -1;
    ::close(fds_[0]);
    ::close(fds_[1]);
}

void QuitSignals::readSignal() {
    char number = 0;
    while (::read(fds_[1], &number, 1) == 1)
        emit received(number);
}
