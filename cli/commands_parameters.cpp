// Parameter commands: info, get, set, save, backup, restore.
#include "command.h"

#include "devicesession.h"
#include "deviceparameters.h"
#include "parametertransfer.h"
#include "report.h"
#include "serialtop.h"
#include "wording.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <functional>

using namespace DeviceParameters;
using Outcome = DeviceSession::Outcome;

namespace {

// Every request ends within the device object's own time-out; this only
// bounds a wait for a report that cannot come.
constexpr int kReportsTimeoutMs = 60000;

QString nameOf(const Parameter &parameter)
{
    return QString::fromLatin1(parameter.name);
}

// Runs one read-out or write-out and waits for its report; the report, not
// the first failed request, says how it ended.
Outcome transfer(DeviceSession &session, ParameterReport &report,
                 const std::function<void(ParameterTransfer &)> &start)
{
    ParameterTransfer transfer(session.device());
    bool finished = false;
    auto take = [&](const ParameterReport &result) {
        report = result;
        finished = true;
    };
    QObject::connect(&transfer, &ParameterTransfer::readFinished, &transfer, take);
    QObject::connect(&transfer, &ParameterTransfer::writeFinished, &transfer, take);
    start(transfer);
    return session.waitFor([&] { return finished; }, kReportsTimeoutMs, true, false);
}

QVector<const Parameter *> everyParameter()
{
    QVector<const Parameter *> list;
    for (const Parameter &parameter : all())
        list << &parameter;
    return list;
}

const Parameter *findByName(const QString &name, QString &error)
{
    const Parameter *parameter = find(name);
    if (!parameter)
        error = QStringLiteral("unknown parameter '%1' (--help lists the names)").arg(name);
    return parameter;
}

QJsonObject valuesJson(const ParameterValues &values)
{
    QJsonObject json;
    for (const ParameterValue &entry : values)
        json.insert(nameOf(*entry.parameter), jsonNumber(*entry.parameter, entry.value));
    return json;
}

// Names each parameter that failed, with why, and those never tried, on
// stderr and in the JSON result; returns a one-line summary.
QString reportShortfall(Report &report, const ParameterReport &result)
{
    QJsonObject failed;
    QStringList parts;
    for (const ParameterReport::Failed &entry : result.failed) {
        const QString why = Wording::outcome(entry.outcome);
        failed.insert(nameOf(*entry.parameter), why);
        Report::message(QStringLiteral("%1: %2").arg(nameOf(*entry.parameter), why));
        parts << nameOf(*entry.parameter);
    }
    QJsonArray notAttempted;
    QStringList skipped;
    for (const Parameter *parameter : result.notAttempted) {
        notAttempted.append(nameOf(*parameter));
        skipped << nameOf(*parameter);
    }
    if (!skipped.isEmpty())
        Report::message(QStringLiteral("not attempted: %1").arg(skipped.join(QStringLiteral(", "))));
    report.set(QStringLiteral("failed"), failed);
    report.set(QStringLiteral("not_attempted"), notAttempted);
    QString summary = QStringLiteral("%1 of %2 failed").arg(parts.size()).arg(result.done.size() + parts.size() + skipped.size());
    if (!parts.isEmpty())
        summary += QStringLiteral(" (%1)").arg(parts.join(QStringLiteral(", ")));
    if (!skipped.isEmpty())
        summary += QStringLiteral(", %1 not attempted").arg(skipped.size());
    if (result.revisionAsked && !result.revisionRead)
        summary += QStringLiteral(", revision not read");
    return summary;
}

// Writes every value, reads each back and says what the device holds; on a
// failure part-way, what was confirmed, what failed and what was not tried.
int writeAndVerify(DeviceSession &session, Report &report, const ParameterValues &values)
{
    ParameterReport result;
    const Outcome outcome =
        transfer(session, result, [&](ParameterTransfer &transfer) { transfer.writeAndVerify(values); });
    if (outcome != Outcome::Done)
        return session.fail(outcome, report, QStringLiteral("writing parameters"));

    for (const ParameterValue &entry : qAsConst(result.done))
        report.line(QStringLiteral("%1 = %2").arg(nameOf(*entry.parameter), formatValue(*entry.parameter, entry.value)));
    report.set(QStringLiteral("written"), valuesJson(result.done));
    report.set(QStringLiteral("parameters"), valuesJson(result.done));
    if (result.complete())
        return report.finish(Exit::Done);
    const QString summary = reportShortfall(report, result);
    // A request that failed is the line's fault; a value that read back
    // otherwise is the device's word.
    if (!result.stop.ok())
        return report.finish(Exit::Communication,
                             QStringLiteral("writing parameters stopped: %1: %2")
                                 .arg(Wording::outcome(result.stop), summary));
    return report.finish(Exit::Verdict, QStringLiteral("not read back as written: %1").arg(summary));
}

bool oneFile(const Invocation &invocation, QString &path, QString &error)
{
    if (invocation.arguments.size() != 1) {
        error = QStringLiteral("give exactly one FILE");
        return false;
    }
    path = invocation.arguments.first();
    return true;
}

class InfoCommand : public Command
{
public:
    bool prepare(const Invocation &invocation, QString &error) override { return noArguments(invocation, error); }

    int run(DeviceSession &session, Report &report) override
    {
        ParameterReport result;
        const Outcome outcome =
            transfer(session, result, [](ParameterTransfer &transfer) { transfer.read(everyParameter(), true); });
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("info"));
        // Every value that could be read is printed, whatever failed.
        if (result.revisionRead) {
            report.line(QStringLiteral("revision = %1").arg(result.revision));
            report.set(QStringLiteral("revision"), result.revision);
        }
        for (const ParameterValue &entry : qAsConst(result.done))
            report.line(QStringLiteral("%1 = %2").arg(nameOf(*entry.parameter), formatValue(*entry.parameter, entry.value)));
        report.set(QStringLiteral("parameters"), valuesJson(result.done));
        if (result.complete())
            return report.finish(Exit::Done);
        return report.finish(Exit::Communication, QStringLiteral("info: %1").arg(reportShortfall(report, result)));
    }
};

class GetCommand : public Command
{
public:
    bool prepare(const Invocation &invocation, QString &error) override
    {
        if (invocation.arguments.isEmpty()) {
            error = QStringLiteral("name at least one parameter");
            return false;
        }
        for (const QString &name : invocation.arguments) {
            const Parameter *parameter = findByName(name, error);
            if (!parameter)
                return false;
            asked << parameter;
        }
        return true;
    }

    int run(DeviceSession &session, Report &report) override
    {
        // A name given twice is read once and printed twice.
        QVector<const Parameter *> once;
        for (const Parameter *parameter : asked)
            if (!once.contains(parameter))
                once << parameter;
        ParameterReport result;
        const Outcome outcome =
            transfer(session, result, [&](ParameterTransfer &transfer) { transfer.read(once, false); });
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("get"));
        // Bare values only make sense all together, in the order asked.
        if (!result.complete())
            return report.finish(Exit::Communication, QStringLiteral("get: %1").arg(reportShortfall(report, result)));
        QJsonObject json;
        for (const Parameter *parameter : asked) {
            const double value = result.value(*parameter)->value;
            report.line(formatValue(*parameter, value));
            json.insert(nameOf(*parameter), jsonNumber(*parameter, value));
        }
        report.set(QStringLiteral("parameters"), json);
        return report.finish(Exit::Done);
    }

private:
    QVector<const Parameter *> asked;
};

class SetCommand : public Command
{
public:
    bool prepare(const Invocation &invocation, QString &error) override
    {
        if (invocation.arguments.isEmpty()) {
            error = QStringLiteral("give at least one NAME=VALUE");
            return false;
        }
        for (const QString &argument : invocation.arguments) {
            const int equals = argument.indexOf(QLatin1Char('='));
            if (equals <= 0) {
                error = QStringLiteral("'%1' is not NAME=VALUE").arg(argument);
                return false;
            }
            const QString name = argument.left(equals);
            const Parameter *parameter = findByName(name, error);
            if (!parameter)
                return false;
            for (const ParameterValue &earlier : values)
                if (earlier.parameter == parameter) {
                    error = QStringLiteral("%1 given twice").arg(name);
                    return false;
                }
            double value = 0;
            if (!parseValue(*parameter, argument.mid(equals + 1), value, error))
                return false;
            values.append({parameter, value});
        }
        return true;
    }

    int run(DeviceSession &session, Report &report) override { return writeAndVerify(session, report, values); }

private:
    ParameterValues values;
};

class SaveCommand : public Command
{
public:
    bool prepare(const Invocation &invocation, QString &error) override { return noArguments(invocation, error); }

    int run(DeviceSession &session, Report &report) override
    {
        session.device()->saveSettings();
        // The store command reports nothing itself; a read run behind it
        // can only come back once the store was settled, and a failed store
        // ends the wait first.
        ParameterTransfer transfer(session.device());
        bool finished = false;
        QObject::connect(&transfer, &ParameterTransfer::readFinished, &transfer, [&] { finished = true; });
        transfer.read({&all().first()}, false);
        const Outcome outcome = session.waitFor([&] { return finished; }, kReportsTimeoutMs);
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("save"));
        Report::message(QStringLiteral("settings stored in non-volatile memory"));
        return report.finish(Exit::Done);
    }
};

class BackupCommand : public Command
{
public:
    bool prepare(const Invocation &invocation, QString &error) override
    {
        partial = invocation.partial;
        return oneFile(invocation, path, error) && checkOutputFile(path, error);
    }

    int run(DeviceSession &session, Report &report) override
    {
        ParameterReport result;
        const Outcome outcome =
            transfer(session, result, [](ParameterTransfer &transfer) { transfer.read(everyParameter(), true); });
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("backup"));
        report.set(QStringLiteral("parameters"), valuesJson(result.done));
        const bool whole = result.complete();
        if (!whole) {
            const QString summary = reportShortfall(report, result);
            // A file that silently lacks a value would restore as if whole.
            if (!partial || result.done.isEmpty())
                return report.finish(Exit::Communication,
                                     QStringLiteral("backup: %1; no file written%2")
                                         .arg(summary, partial ? QString() : QStringLiteral(" (--partial saves what was read)")));
        }
        QString error;
        if (!writeBackup(path, result.revision, result.done, error, !whole))
            return report.finish(Exit::BadInput, error);
        report.set(QStringLiteral("file"), path);
        report.set(QStringLiteral("revision"), result.revision);
        report.set(QStringLiteral("partial"), !whole);
        if (whole) {
            Report::message(QStringLiteral("revision and %1 parameters saved to %2").arg(result.done.size()).arg(path));
            return report.finish(Exit::Done);
        }
        Report::message(QStringLiteral("partial backup: %1 of %2 parameters saved to %3")
                            .arg(result.done.size())
                            .arg(all().size())
                            .arg(path));
        return report.finish(Exit::Communication, QStringLiteral("backup: partial file written to %1").arg(path));
    }

private:
    QString path;
    bool partial = false;
};

class RestoreCommand : public Command
{
public:
    bool prepare(const Invocation &invocation, QString &error) override
    {
        QString path;
        return oneFile(invocation, path, error) && readBackup(path, backup, error);
    }

    int run(DeviceSession &session, Report &report) override
    {
        if (backup.partial)
            Report::message(QStringLiteral("partial backup: writing the %1 of %2 parameters it holds")
                                .arg(backup.values.size())
                                .arg(all().size()));
        return writeAndVerify(session, report, backup.values);
    }

private:
    Backup backup;
};

} // namespace

std::unique_ptr<Command> makeInfo() { return std::make_unique<InfoCommand>(); }
std::unique_ptr<Command> makeGet() { return std::make_unique<GetCommand>(); }
std::unique_ptr<Command> makeSet() { return std::make_unique<SetCommand>(); }
std::unique_ptr<Command> makeSave() { return std::make_unique<SaveCommand>(); }
std::unique_ptr<Command> makeBackup() { return std::make_unique<BackupCommand>(); }
std::unique_ptr<Command> makeRestore() { return std::make_unique<RestoreCommand>(); }

bool noArguments(const Invocation &invocation, QString &error)
{
    if (invocation.arguments.isEmpty())
        return true;
    error = QStringLiteral("unexpected argument '%1'").arg(invocation.arguments.first());
    return false;
}

bool checkOutputFile(const QString &path, QString &error)
{
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (path.isEmpty() || file.isDir()) {
        error = QStringLiteral("'%1' is not a file name").arg(path);
        return false;
    }
    if (!folder.isDir() || !folder.isWritable()) {
        error = QStringLiteral("cannot write %1: folder %2 missing or not writable").arg(path, folder.filePath());
        return false;
    }
    return true;
}
