#include "app/quitsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = { -1, -1 };

void writeToSignalPipe(int)
{
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent)
{
    // Not inherited by the programs the window starts, such as a browser.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &QuitSignals::onSignalPipeReadable);
        struct sigaction action {};
        action.sa_handler = writeToSignalPipe;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGHUP, &action, nullptr);
    }
}

QuitSignals::~QuitSignals()
{
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    delete notifier;
    for (int &fd : signalPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void QuitSignals::onSignalPipeReadable()
{
    char byte;
    [[maybe_unused]] ssize_t n = ::read(signalPipe[0], &byte, 1);
    QCoreApplication::quit();
}
