#pragma once

// A signal recorder for senders that live in another thread.
//
// QSignalSpy records through a direct connection, i.e. it appends to its list
// in the emitting thread while the test reads that list in its own: a data
// race whenever the sender runs in a thread of its own. QueuedSpy has the same
// shape (it is the list of argument lists, plus wait()) but is connected with
// Qt::QueuedConnection, so every record is appended in the spy's own thread,
// the one that reads it. Records arrive in emission order, interleaved in that
// order with the test's other queued connections to the same sender.
//
// Like QSignalSpy it hooks qt_metacall instead of declaring a slot, so it
// takes any signal whose argument types are known to the meta-type system.

#include <QEventLoop>
#include <QList>
#include <QMetaMethod>
#include <QObject>
#include <QTimer>
#include <QVariant>
#include <QtGlobal>

class QueuedSpy : public QObject, public QList<QList<QVariant>>
{
public:
    template<typename Sender, typename Signal>
    QueuedSpy(const Sender *sender, Signal signal)
        : QueuedSpy(static_cast<const QObject *>(sender), QMetaMethod::fromSignal(signal))
    {
    }

    QueuedSpy(const QObject *sender, const QMetaMethod &signal)
    {
        if (!sender || signal.methodType() != QMetaMethod::Signal)
            qFatal("QueuedSpy: not a signal of a live object");
        for (int i = 0; i < signal.parameterCount(); ++i) {
            const int type = signal.parameterType(i);
            if (type == QMetaType::UnknownType)
                qFatal("QueuedSpy: argument %d of %s has no registered type", i, signal.methodSignature().constData());
            types << type;
        }
        // The one "slot" is the first method index past QObject's own.
        if (!QMetaObject::connect(sender, signal.methodIndex(), this, QObject::staticMetaObject.methodCount(),
                                  Qt::QueuedConnection, nullptr))
            qFatal("QueuedSpy: cannot connect to %s", signal.methodSignature().constData());
    }

    // True when at least one emission was delivered within timeoutMs.
    bool wait(int timeoutMs = 5000)
    {
        const int before = size();
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        waiting = &loop;
        timer.start(timeoutMs);
        // A record may already have been delivered by a nested event loop.
        if (size() == before)
            loop.exec();
        waiting = nullptr;
        return size() > before;
    }

    int qt_metacall(QMetaObject::Call call, int id, void **args) override
    {
        id = QObject::qt_metacall(call, id, args);
        if (id < 0)
            return id;
        if (call == QMetaObject::InvokeMetaMethod) {
            if (id == 0)
                record(args);
            --id;
        }
        return id;
    }

private:
    void record(void **args)
    {
        QList<QVariant> values;
        values.reserve(types.size());
        for (int i = 0; i < types.size(); ++i) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
            values << QVariant(QMetaType(types.at(i)), args[i + 1]);
#else
            values << QVariant(types.at(i), args[i + 1]);
#endif
        }
        append(values);
        if (waiting)
            waiting->quit();
    }

    QList<int> types;
    QEventLoop *waiting = nullptr;
};
