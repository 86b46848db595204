#pragma once

// Helpers shared by the window tests: a private working directory (the window
// reads info.txt from it and the plot saves into it), a private settings
// folder, and access to the real form's widgets by object name.

#include "deviceparameters.h"
#include "mainwindow.h"
#include "queuedspy.h"
#include "serialtop.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

// What the window remembers goes to a folder of the test's own, never into
// the settings of the user running the tests. Runs as the application
// object is made, before any window exists.
inline void isolateWindowSettings()
{
    static QTemporaryDir folder;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
    QCoreApplication::setOrganizationName(QStringLiteral("ZETRA"));
}
Q_COREAPP_STARTUP_FUNCTION(isolateWindowSettings)

class ScopedWorkDir
{
public:
    ScopedWorkDir() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~ScopedWorkDir() { QDir::setCurrent(previous); }

    bool writeFile(const QString &name, const QByteArray &bytes) const
    {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};

template<typename T>
T *widget(const QWidget &window, const char *name)
{
    T *w = window.findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qFatal("the form has no %s", name);
    return w;
}

inline QString mainLog(const QWidget &window)
{
    return widget<QTextEdit>(window, "textEdit_log")->toPlainText();
}

inline QString programmingLog(const QWidget &window)
{
    return widget<QTextEdit>(window, "textEdit_log_apdater")->toPlainText();
}

// Whether a log shows its newest line as the user sees it: the scroll bar at
// its end and the end of the text inside the visible area.
inline bool showsNewestLine(const QTextEdit *log)
{
    const QScrollBar *bar = log->verticalScrollBar();
    QTextCursor end(log->document());
    end.movePosition(QTextCursor::End);
    return bar->value() == bar->maximum() && log->viewport()->rect().contains(log->cursorRect(end));
}

constexpr int kDeviceWaitMs = 30000; // generous bound for anything the device does

// Requests a connection sends: the address reset and the probe, then one
// read per parameter as the window fills its fields.
inline int connectRequests()
{
    return 2 + DeviceParameters::all().size();
}

// Connects the window to the simulator through the real connect button, and
// waits for the fields to be read (the Modbus address comes last), so that
// a test's own values in the fields are not overwritten behind its back.
inline bool connectTo(MainWindow &w, const QString &port)
{
    w.selectPort(port);
    QueuedSpy changes(w.device(), &SerialTop::connectedChanged);
    // The fields are read on connecting; the read-out's end says all are in.
    QueuedSpy lastField(w.device(), &SerialTop::parametersRead);
    QTest::mouseClick(widget<QPushButton>(w, "pushButton_connect_to_rs485"), Qt::LeftButton);
    if (!changes.wait(kDeviceWaitMs) && changes.isEmpty())
        return false;
    if (!changes.first().first().toBool())
        return false;
    return !lastField.isEmpty() || lastField.wait(kDeviceWaitMs);
}

// Answers the question box of that name once the window shows it: its
// accepting button (Yes, or the action named on it) or its refusing one.
// True once the box has gone.
inline bool answerQuestion(QWidget &w, const char *name, bool accept)
{
    QMessageBox *box = nullptr;
    if (!QTest::qWaitFor([&] { return (box = w.findChild<QMessageBox *>(QString::fromLatin1(name))); },
                         kDeviceWaitMs))
        return false;
    QAbstractButton *answer = nullptr;
    for (QAbstractButton *button : box->buttons()) {
        const QMessageBox::ButtonRole role = box->buttonRole(button);
        const bool accepting = role == QMessageBox::AcceptRole || role == QMessageBox::YesRole;
        const bool refusing = role == QMessageBox::RejectRole || role == QMessageBox::NoRole;
        if ((accept && accepting) || (!accept && refusing))
            answer = button;
    }
    if (!answer)
        return false;
    QPointer<QMessageBox> open = box;
    answer->click();
    return QTest::qWaitFor([&] { return open.isNull(); }, kDeviceWaitMs);
}
