#include "quit_on_signal.h"

#include <QCoreApplication>

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

namespace heliostat::antenna {

namespace {

int g_pipe[2] = {-1, -1};

extern "C" void OnSignal(int signal) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    // Nothing to do if it fails: the pipe is full, so a quit is already pending.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[0], &byte, 1);
}

}  // namespace

QuitOnSignal::QuitOnSignal(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &QuitOnSignal::drain);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

QuitOnSignal::~QuitOnSignal() {
    if (notifier_) {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        notifier_.reset();
        ::close(g_pipe[0]);
        ::close(g_pipe[1]);
        g_pipe[0] = g_pipe[1] = -1;
    }
}

void QuitOnSignal::drain() {
    unsigned char byte = 0;
    if (::read(g_pipe[1], &byte, 1) == 1) {
        received_ = byte;
    }
    QCoreApplication::quit();
}

}  // namespace heliostat::antenna
