#include "app/TerminationSignals.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace doorwarden {

namespace {

int pipeFds[2] = {-1, -1};

void onSignal(int number)
{
    const auto byte = static_cast<unsigned char>(number);
    // Only async-signal-safe calls here; a full pipe just drops the repeat.
    [[maybe_unused]] const auto written = ::write(pipeFds[1], &byte, 1);
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(pipeFds[0], &byte, 1) == 1) {
            emit received(byte);
        }
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    notifier_.reset();
    if (pipeFds[0] >= 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        pipeFds[0] = pipeFds[1] = -1;
    }
}

} // namespace doorwarden
