#pragma once

// zetra-cli run to its end by the end-to-end tests: its exit code and what it
// wrote. The including test defines ZETRA_CLI_PATH.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTest>

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
    QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
    QString describe() const { return QStringLiteral("exit %1\nout: %2\nerr: %3").arg(exitCode).arg(out, err); }
};

// Waits for a started zetra-cli to end; one still running after two minutes
// is killed and reads as exit -1.
inline CliRun finishCli(QProcess &cli)
{
    CliRun run;
    if (!cli.waitForFinished(120000)) {
        cli.kill();
        cli.waitForFinished();
        run.err = QStringLiteral("did not finish");
        return run;
    }
    run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.out = QString::fromUtf8(cli.readAllStandardOutput());
    run.err = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

inline CliRun runCli(const QStringList &arguments,
                     const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.start(QString::fromUtf8(ZETRA_CLI_PATH), arguments);
    return finishCli(cli);
}

inline QString describe(const QStringList &arguments, const CliRun &run)
{
    return QStringLiteral("%1 -> %2").arg(arguments.join(' '), run.describe());
}

#define EXPECT_EXIT(run, arguments, code) \
    QVERIFY2((run).exitCode == (code), qPrintable(describe((arguments), (run))))
