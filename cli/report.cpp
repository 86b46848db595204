#include "report.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>
#include <utility>

Report::Report(QString commandName, bool json)
    : command(std::move(commandName))
    , jsonMode(json)
{
}

namespace {

// An object's members as compact JSON, without its braces.
QByteArray members(const QJsonObject &object)
{
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

} // namespace

void Report::line(const QString &text)
{
    if (listing && !jsonMode)
        std::printf("%s\n", text.toUtf8().constData());
    else
        lines << text;
}

void Report::beginList(const QString &key)
{
    if (listing)
        return;
    listing = true;
    if (jsonMode) {
        QJsonObject head = object;
        head.insert(QStringLiteral("command"), command);
        object = QJsonObject();
        std::printf("{%s,%s:[", members(head).constData(),
                    QJsonDocument(QJsonArray{key}).toJson(QJsonDocument::Compact).mid(1).chopped(1).constData());
    } else {
        for (const QString &text : qAsConst(lines))
            std::printf("%s\n", text.toUtf8().constData());
        lines.clear();
    }
}

void Report::item(const QJsonObject &value)
{
    itemText(QJsonDocument(value).toJson(QJsonDocument::Compact));
}

void Report::itemText(const QByteArray &json)
{
    if (!listing || !jsonMode)
        return;
    if (!firstItem)
        std::fputc(',', stdout);
    firstItem = false;
    std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
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
    if (jsonMode && listing) {
        QJsonObject tail = object;
        tail.insert(QStringLiteral("ok"), exitCode == Exit::Done);
        tail.insert(QStringLiteral("exit"), exitCode);
        if (!error.isEmpty())
            tail.insert(QStringLiteral("error"), error);
        std::printf("],%s}\n", members(tail).constData());
    } else if (jsonMode) {
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
