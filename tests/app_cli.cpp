// The configurator as a program: its options and a clean exit.
#include "simprocess.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Offscreen, and with a settings folder of its own: the program remembers
// its port, which must not land in the settings of the user running tests.
QProcessEnvironment offscreen()
{
    static QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", config.path());
    return env;
}

} // namespace

class AppCli : public QObject
{
    Q_OBJECT
private slots:
    void helpListsOptions();
    void portAndConnectOptionsReachTheDevice();
    void unknownOptionIsRefused();
    void languageOptionChoosesTheWindowsTexts();
};

void AppCli::helpListsOptions()
{
    QProcess app;
    app.setProcessEnvironment(offscreen());
    app.start(ZETRA_CONFIGURATOR_PATH, {"--help"});
    QVERIFY(app.waitForFinished(60000));
    QCOMPARE(app.exitCode(), 0);
    const QByteArray help = app.readAllStandardOutput();
    for (const char *option : {"--port <NAME>", "--connect", "--screenshot <PATH>", "--lang <LANG>", "--help"})
        QVERIFY2(help.contains(option), help.constData());
}

void AppCli::portAndConnectOptionsReachTheDevice()
{
    QTemporaryDir dir;
    QFile info(dir.filePath("info.txt"));
    QVERIFY(info.open(QIODevice::WriteOnly));
    info.write("x|Elevated");
    info.close();
    SimProcess sim({"--verbose"});
    QVERIFY(sim.isRunning());

    const QString shot = dir.filePath("window.png");
    QProcess app;
    app.setProcessEnvironment(offscreen());
    app.setWorkingDirectory(dir.path());
    app.start(ZETRA_CONFIGURATOR_PATH, {"--port", sim.portName(), "--connect", "--screenshot", shot});
    QVERIFY(app.waitForFinished(60000));
    const QByteArray errors = app.readAllStandardError();
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QVERIFY2(app.exitCode() == 0, errors.constData());
    QVERIFY2(!errors.contains("QThread: Destroyed"), errors.constData());
    // The typed port name was used, and connecting sent the probe.
    QTRY_VERIFY_WITH_TIMEOUT(sim.errorOutput().contains("rx 13 05 00 09 00 00"), 30000);
    QImage image(shot);
    QVERIFY(!image.isNull());
    QVERIFY(image.width() >= 650 && image.height() >= 600);
}

void AppCli::unknownOptionIsRefused()
{
    QProcess app;
    app.setProcessEnvironment(offscreen());
    app.start(ZETRA_CONFIGURATOR_PATH, {"--no-such-option"});
    QVERIFY(app.waitForFinished(60000));
    QVERIFY(app.exitCode() != 0);
    QVERIFY(app.readAllStandardError().contains("no-such-option"));
}

// The same window in both languages: two different pictures; a language the
// program does not have is refused.
void AppCli::languageOptionChoosesTheWindowsTexts()
{
    QTemporaryDir dir;
    QImage pictures[2];
    const char *languages[2] = {"ru", "en"};
    for (int i = 0; i < 2; ++i) {
        const QString shot = dir.filePath(QStringLiteral("window-%1.png").arg(languages[i]));
        QProcess app;
        app.setProcessEnvironment(offscreen());
        app.setWorkingDirectory(dir.path());
        app.start(ZETRA_CONFIGURATOR_PATH, {"--lang", languages[i], "--screenshot", shot});
        QVERIFY(app.waitForFinished(60000));
        const QByteArray errors = app.readAllStandardError();
        QVERIFY2(app.exitCode() == 0, errors.constData());
        QVERIFY2(!errors.contains("translations did not load"), errors.constData());
        pictures[i] = QImage(shot);
        QVERIFY(!pictures[i].isNull());
    }
    QVERIFY(pictures[0] != pictures[1]);

    QProcess app;
    app.setProcessEnvironment(offscreen());
    app.start(ZETRA_CONFIGURATOR_PATH, {"--lang", "de"});
    QVERIFY(app.waitForFinished(60000));
    QVERIFY(app.exitCode() != 0);
    QVERIFY(app.readAllStandardError().contains("--lang"));
}

QTEST_GUILESS_MAIN(AppCli)
#include "app_cli.moc"
