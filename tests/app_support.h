#pragma once

// Helpers shared by the window tests: a private working directory (the window
// reads info.txt from it and the plot saves into it) and access to the real
// form's widgets by object name.

#include "mainwindow.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

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
