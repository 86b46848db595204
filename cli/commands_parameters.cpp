// Parameter commands: info, get, set, save, backup, restore.
#include "command.h"

#include "devicesession.h"
#include "deviceparameters.h"
#include "parameterlink.h"
#include "report.h"
#include "serialtop.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonObject>
#include <QSet>

using namespace DeviceParameters;
using Outcome = DeviceSession::Outcome;

namespace {

// Every request ends within the device object's own time-out; this only
// bounds a wait for a report that cannot come.
constexpr int kReportsTimeoutMs = 60000;

using ValuesByHolding = QHash<uint16_t, double>;

// Reads the parameters (and the revision when asked for) in one burst.
Outcome readParameters(DeviceSession &session, const QVector<const Parameter *> &parameters,
                       ValuesByHolding &values, QString *revision = nullptr)
{
    SerialTop *top = session.device();
    QObject context;
    ValuesByHolding seen;
    ParameterLink::onValues(top, &context, [&seen](uint16_t holding, double value) { seen.insert(holding, value); });
    bool revisionSeen = revision == nullptr;
    if (revision) {
        QObject::connect(top, &SerialTop::revisionReceived, &context, [&](const QString &text) {
            *revision = text;
            revisionSeen = true;
        });
        top->getFirmwareRevision();
    }
    for (const Parameter *parameter : parameters)
        ParameterLink::requestRead(top, *parameter);
    const Outcome outcome = session.waitFor(
        [&] {
            if (!revisionSeen)
                return false;
            for (const Parameter *parameter : parameters)
                if (!seen.contains(parameter->holding))
                    return false;
            return true;
        },
        kReportsTimeoutMs);
    values = seen;
    return outcome;
}

QVector<const Parameter *> everyParameter()
{
    QVector<const Parameter *> list;
    for (const Parameter &parameter : all())
        list << &parameter;
    return list;
}

QString nameOf(const Parameter &parameter)
{
    return QString::fromLatin1(parameter.name);
}

const Parameter *findByName(const QString &name, QString &error)
{
    const Parameter *parameter = find(name);
    if (!parameter)
        error = QStringLiteral("unknown parameter '%1' (--help lists the names)").arg(name);
    return parameter;
}

// Writes every value, reads each back and reports what the device holds.
int writeAndVerify(DeviceSession &session, Report &report, const ParameterValues &values)
{
    QVector<const Parameter *> written;
    for (const ParameterValue &entry : values) {
        ParameterLink::requestWrite(session.device(), *entry.parameter, entry.value);
        written << entry.parameter;
    }
    ValuesByHolding readBack;
    const Outcome outcome = readParameters(session, written, readBack);
    if (outcome != Outcome::Done)
        return session.fail(outcome, report, QStringLiteral("writing parameters"));

    QJsonObject json;
    QStringList mismatches;
    for (const ParameterValue &entry : values) {
        const Parameter &parameter = *entry.parameter;
        const double held = readBack.value(parameter.holding);
        report.line(QStringLiteral("%1 = %2").arg(nameOf(parameter), formatValue(parameter, held)));
        json.insert(nameOf(parameter), jsonNumber(parameter, held));
        if (held != entry.value)
            mismatches << QStringLiteral("%1 wrote %2, read back %3")
                              .arg(nameOf(parameter), formatValue(parameter, entry.value), formatValue(parameter, held));
    }
    report.set(QStringLiteral("parameters"), json);
    if (!mismatches.isEmpty())
        return report.finish(Exit::Verdict, QStringLiteral("not read back as written: %1").arg(mismatches.join(QStringLiteral("; "))));
    return report.finish(Exit::Done);
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
        ValuesByHolding values;
        QString revision;
        const Outcome outcome = readParameters(session, everyParameter(), values, &revision);
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("info"));
        report.line(QStringLiteral("revision = %1").arg(revision));
        report.set(QStringLiteral("revision"), revision);
        QJsonObject json;
        for (const Parameter &parameter : all()) {
            const double value = values.value(parameter.holding);
            report.line(QStringLiteral("%1 = %2").arg(nameOf(parameter), formatValue(parameter, value)));
            json.insert(nameOf(parameter), jsonNumber(parameter, value));
        }
        report.set(QStringLiteral("parameters"), json);
        return report.finish(Exit::Done);
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
        ValuesByHolding values;
        const Outcome outcome = readParameters(session, once, values);
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("get"));
        QJsonObject json;
        for (const Parameter *parameter : asked) {
            const double value = values.value(parameter->holding);
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
        // The store command reports nothing itself; a read queued behind it
        // can only come back once the store was acknowledged.
        ValuesByHolding values;
        const Outcome outcome = readParameters(session, {&all().first()}, values);
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
        return oneFile(invocation, path, error) && checkOutputFile(path, error);
    }

    int run(DeviceSession &session, Report &report) override
    {
        ValuesByHolding values;
        QString revision;
        const Outcome outcome = readParameters(session, everyParameter(), values, &revision);
        if (outcome != Outcome::Done)
            return session.fail(outcome, report, QStringLiteral("backup"));
        ParameterValues backup;
        QJsonObject json;
        for (const Parameter &parameter : all()) {
            backup.append({&parameter, values.value(parameter.holding)});
            json.insert(nameOf(parameter), jsonNumber(parameter, values.value(parameter.holding)));
        }
        QString error;
        if (!writeBackup(path, revision, backup, error))
            return report.finish(Exit::BadInput, error);
        report.set(QStringLiteral("file"), path);
        report.set(QStringLiteral("revision"), revision);
        report.set(QStringLiteral("parameters"), json);
        Report::message(QStringLiteral("revision and %1 parameters saved to %2").arg(backup.size()).arg(path));
        return report.finish(Exit::Done);
    }

private:
    QString path;
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
