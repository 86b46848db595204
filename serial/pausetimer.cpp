#include "pausetimer.h"

#include <QTimer>

#ifdef Q_OS_LINUX
#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

PauseTimer::PauseTimer(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_LINUX
    fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0) {
        notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &PauseTimer::expired);
        return;
    }
#endif
    fallback = new QTimer(this);
    fallback->setSingleShot(true);
    fallback->setTimerType(Qt::PreciseTimer);
    connect(fallback, &QTimer::timeout, this, &PauseTimer::timeout);
}

PauseTimer::~PauseTimer()
{
#ifdef Q_OS_LINUX
    if (fd >= 0) {
        delete notifier;
        ::close(fd);
    }
#endif
}

void PauseTimer::start(const QDeadlineTimer &deadline)
{
    const qint64 ns = qMax<qint64>(deadline.remainingTimeNSecs(), 1);
#ifdef Q_OS_LINUX
    if (fd >= 0) {
        itimerspec expiry{};
        expiry.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
        expiry.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
        ::timerfd_settime(fd, 0, &expiry, nullptr);
        return;
    }
#endif
    fallback->start(int((ns + 999999) / 1000000));
}

void PauseTimer::stop()
{
#ifdef Q_OS_LINUX
    if (fd >= 0) {
        // Disarming, like arming, also clears an expiry not yet read.
        const itimerspec disarm{};
        ::timerfd_settime(fd, 0, &disarm, nullptr);
        return;
    }
#endif
    fallback->stop();
}

void PauseTimer::expired()
{
#ifdef Q_OS_LINUX
    uint64_t expirations = 0;
    while (::read(fd, &expirations, sizeof expirations) < 0 && errno == EINTR) {
    }
    if (expirations == 0)
        return; // stopped or re-armed between the poll and this read
#endif
    emit timeout();
}
