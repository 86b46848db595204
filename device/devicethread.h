#pragma once

#include <QThread>

class SerialTop;

// The device object in a thread of its own, started and stopped the same
// way for the window and the command line.
class DeviceThread
{
public:
    // A wait in the device thread ends as soon as the thread is asked to
    // quit, so this bound on joining it is only a safety net.
    static constexpr unsigned long kShutdownWaitMs = 10000;

    // Creates the device object in the new thread; init runs when the
    // thread starts, so wire every report before start().
    DeviceThread();
    // Stops the thread if stop() was not called.
    ~DeviceThread();
    DeviceThread(const DeviceThread &) = delete;
    DeviceThread &operator=(const DeviceThread &) = delete;

    SerialTop *device() const { return top; }
    void start();
    bool isRunning() const { return thread && thread->isRunning(); }

    // Closes the port, so that a wait for an answer ends at once, ends every
    // event loop of the thread, nested waits included, and joins it; the
    // device object is then deleted in its own thread. False when the
    // thread did not stop in time: it is then left to the end of the process.
    bool stop();

private:
    QThread *thread;
    SerialTop *top;
    bool stopped = false;
};
