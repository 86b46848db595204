#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <cstdint>

// How one request, or one operation made of requests, ended: done, or a
// failure with its facts. The device object states these facts; each front
// end words them in its own language.
struct RequestOutcome
{
    enum class Failure : uint8_t {
        None,
        Refused,       // the device sent an exception answer
        NoAnswer,      // nothing valid came back within the time-out
        PortLost,      // the port went away; portError holds its own text
        PortClosed,    // the port was closed, or not open, so nothing was sent
        QueueFull,     // the command ring had no free slot
        NotConfirmed,  // written, but read back as another value
        Interrupted,   // stopped on request before the next step
    };

    Failure failure = Failure::None;
    uint8_t function = 0;       // the request's function code
    uint16_t address = 0;       // its first register or coil
    uint8_t exceptionCode = 0;  // Refused
    QString port;               // PortLost: the port's name
    QString portError;          // PortLost: the port's own text
    bool sent = false;          // PortClosed: the request went out before the port closed
    double written = 0;         // NotConfirmed
    double readBack = 0;        // NotConfirmed

    bool ok() const { return failure == Failure::None; }

    static RequestOutcome failed(Failure failure, const QByteArray &request = QByteArray());
    static RequestOutcome refused(const QByteArray &request, uint8_t code);
    static RequestOutcome portLost(const QByteArray &request, const QString &port, const QString &portError);
    static RequestOutcome notConfirmed(uint16_t address, double written, double readBack);
};

Q_DECLARE_METATYPE(RequestOutcome)
