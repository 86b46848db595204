#include "report.h"

#include <QJsonDocument>

#include <cstdio>
#include <utility>

Report::Report(QString commandName, bool json)
    : command(std::move(commandName))
    , jsonMode(json)
{
}

void Report::line(const QString &text)
{
    lines << text;
}

void Report::set(const QString &key, const QJsonValue &value)
{
    object.insert(key, value);
}

void Report::message(const QString &text)
{
    std::fprintf(stderr, "zetra-cli: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

int Report::finish(int exitCode, const QString &error)
{
    if (!error.isEmpty())
        message(error);
    if (finishing)
        std::exchange(finishing, nullptr)(*this);
    if (jsonMode) {
        QJsonObject result = object;
        result.insert(QStringLiteral("command"), command);
        result.insert(QStringLiteral("ok"), exitCode == Exit::Done);
        result.insert(QStringLiteral("exit"), exitCode);
        if (!error.isEmpty())
            result.insert(QStringLiteral("error"), error);
        std::fputs(QJsonDocument(result).toJson(QJsonDocument::Compact).constData(), stdout);
        std::fputs("\n", stdout);
    } else {
        for (const QString &text : lines)
            std::printf("%s\n", text.toUtf8().constData());
    }
    std::fflush(stdout);
    return exitCode;
}
