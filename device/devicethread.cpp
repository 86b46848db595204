#include "devicethread.h"

#include "serialtop.h"

DeviceThread::DeviceThread()
    : thread(new QThread)
    , top(new SerialTop)
{
    top->moveToThread(thread);
    QObject::connect(thread, &QThread::started, top, &SerialTop::init);
    // Deleted in its own thread once every nested wait has unwound.
    QObject::connect(thread, &QThread::finished, top, &QObject::deleteLater);
}

DeviceThread::~DeviceThread()
{
    stop();
}

void DeviceThread::start()
{
    thread->start();
}

bool DeviceThread::stop()
{
    if (stopped)
        return true;
    stopped = true;
    top->disconnectFromPort();
    thread->requestInterruption();
    thread->quit();
    if (!thread->wait(kShutdownWaitMs))
        return false; // never destroy a running thread
    delete thread;
    thread = nullptr;
    top = nullptr;
    return true;
}
