#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal delivered in the event loop of
// the thread that made the watcher, so a program can stop in an orderly way
// (between firmware blocks, say) instead of dying mid-frame. One watcher at
// a time; its destruction restores the default handling. Elsewhere than on
// Unix it watches nothing.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    // signalNumber is SIGINT or SIGTERM.
    void stopRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *notifier = nullptr;
};
