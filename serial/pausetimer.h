#pragma once

#include <QDeadlineTimer>
#include <QObject>

class QSocketNotifier;
class QTimer;

// A single-shot timer for the short pauses of the line, exact to the
// microsecond where the system allows. Qt's own timers wait in whole
// milliseconds on some event dispatchers (glib's among them), which puts up
// to a millisecond on every pause; on Linux this one is a timer descriptor
// the event loop polls, elsewhere a precise QTimer. Lives in one thread.
class PauseTimer : public QObject
{
    Q_OBJECT
public:
    explicit PauseTimer(QObject *parent = nullptr);
    ~PauseTimer() override;

    // timeout() at the deadline, or as soon as events are processed when it
    // has passed; a running pause is replaced.
    void start(const QDeadlineTimer &deadline);
    void stop();

signals:
    void timeout();

private:
    void expired();

#ifdef Q_OS_LINUX
    int fd = -1;
    QSocketNotifier *notifier = nullptr;
#endif
    QTimer *fallback = nullptr;
};
