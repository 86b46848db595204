#include "uimode.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

UiMode uiModeFromFile(QIODevice &file)
{
    QByteArray line = file.readLine();
    const int zero = line.indexOf('\0');
    if (zero >= 0)
        line.truncate(zero);
    const QStringList parts = QString::fromUtf8(line).split(QLatin1Char('|'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    QString field = parts.size() >= 2 ? parts.at(1) : QString();
    // Every editor ends the line, so one line ending after the word (LF, CRLF
    // or a lone CR) still selects the mode; anything else must match exactly.
    if (field.endsWith(QLatin1String("\r\n")))
        field.chop(2);
    else if (field.endsWith(QLatin1Char('\n')) || field.endsWith(QLatin1Char('\r')))
        field.chop(1);
    if (field == QLatin1String("Elevated"))
        return UiMode::Elevated;
    if (field == QLatin1String("Assemblage"))
        return UiMode::Assemblage;
    if (field == QLatin1String("Station"))
        return UiMode::Station;
    return UiMode::Default;
}
