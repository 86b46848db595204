#include "frametext.h"

#include "deviceparameters.h"

#include <QStringList>

namespace FrameText {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

QString hexByte(uint8_t byte)
{
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

QString value(const LineValue &value)
{
    const QString where = value.width > 1 ? QStringLiteral("%1–%2").arg(value.address).arg(value.address + value.width - 1)
                                          : QString::number(value.address);
    const QString number = value.type == LineValue::Type::Float
                               ? DeviceParameters::shortestText(static_cast<float>(value.value))
                               : QString::number(static_cast<qulonglong>(value.value));
    return QStringLiteral("%1 = %2").arg(where, number);
}

QString values(const LineFrame &frame)
{
    if (!frame.text.isNull() && frame.values.isEmpty()) {
        const QString where = frame.count > 1 ? QStringLiteral("%1–%2").arg(frame.first).arg(frame.first + frame.count - 1)
                                              : QString::number(frame.first);
        return QStringLiteral("%1 = \"%2\"").arg(where, frame.text);
    }
    QStringList parts;
    for (const LineValue &v : frame.values)
        parts << value(v);
    return parts.join(QStringLiteral(", "));
}

} // namespace FrameText
