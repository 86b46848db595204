#pragma once

#include <QString>

// One field of the ';'-separated files the programs write (the line
// monitor's, the records'): quoted, inner quotes doubled, only where it
// holds a separator, a quote or a line break.
inline QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
