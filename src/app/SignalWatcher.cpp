#include "app/SignalWatcher.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> writeEnd{-1};

void OnSignal(int number) {
    const int saved = errno;
    // The next one of this kind is not caught: a stuck shutdown can still be ended.
    std::signal(number, SIG_DFL);
    const unsigned char byte = static_cast<unsigned char>(number);
    const int fd = writeEnd.load();
    if (fd >= 0) {
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

TSignalWatcher::TSignalWatcher(QObject* parent) : QObject(parent) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    writeEnd.store(pipe_[1]);
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

TSignalWatcher::~TSignalWatcher() {
    for (int s : kSignals)
        std::signal(s, SIG_DFL);
    writeEnd.store(-1);
    notifier_.reset();
    for (int fd : pipe_)
        if (fd >= 0) ::close(fd);
}

void TSignalWatcher::Drain() {
    unsigned char byte = 0;
    while (::read(pipe_[0], &byte, 1) == 1)
        emit Signalled(byte);
}
