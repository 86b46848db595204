// The line monitor's window and the line's counters in the status bar.
#include "mainwindow.h"

#include "lineframemodel.h"
#include "linemonitorwindow.h"
#include "serialtop.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QDateTime>
#include <QStringList>

void MainWindow::initLineMonitor()
{
    // The frames are kept whether the monitor is open or not, so opening it
    // after a fault still shows the fault.
    lineFrames = new LineFrameModel(this);
    lineStatus = new QLabel(this);
    lineStatus->setObjectName(QStringLiteral("label_lineCounters"));
    statusBar()->addPermanentWidget(lineStatus);
    lineStatus->hide();

    connect(serialTop, &SerialTop::lineFrames, lineFrames, &LineFrameModel::append);
    connect(serialTop, &SerialTop::lineCounters, this, &MainWindow::showLineCounters);
    // The counters describe a connection; without one they would mislead.
    connect(serialTop, &SerialTop::connectedChanged, lineStatus, &QWidget::setVisible);
}

LineMonitorWindow *MainWindow::lineMonitor() const
{
    return lineMonitorWindow;
}

void MainWindow::showLineMonitor()
{
    if (!lineMonitorWindow) {
        lineMonitorWindow = new LineMonitorWindow(
            lineFrames,
            [this] {
                return chooseFile(FileKind::Log, true, tr("Сохранить кадры линии"), tr("CSV (*.csv)"),
                                  QStringLiteral("line-%1.csv")
                                      .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
            },
            this);
        connect(lineMonitorWindow, &LineMonitorWindow::message, this, &MainWindow::_appendLog);
        // Beside the main window, where the screen leaves room for it.
        QPoint at = frameGeometry().topRight() + QPoint(8, 0);
        if (const QScreen *screen = this->screen()) {
            const QRect room = screen->availableGeometry();
            if (at.x() + lineMonitorWindow->width() > room.right())
                at.setX(qMax(room.left(), room.right() - lineMonitorWindow->width()));
        }
        lineMonitorWindow->move(at);
    }
    lineMonitorWindow->show();
    lineMonitorWindow->raise();
    lineMonitorWindow->activateWindow();
}

void MainWindow::showLineCounters(const LineCounters &c)
{
    lineFrames->setOrigin(c.startedMs);
    QStringList failures;
    auto add = [&failures](int count, const QString &what) {
        if (count > 0)
            failures << QStringLiteral("%1 %2").arg(what).arg(count);
    };
    add(c.timeOuts, tr("тайм-аут"));
    add(c.badCrc, tr("CRC"));
    add(c.refusals, tr("отказ"));
    add(c.stray, tr("посторонние"));
    add(c.late, tr("опоздавшие"));
    add(c.portErrors, tr("порт"));
    QString text = tr("Линия: запросов %1, ответов %2; сбои: %3")
                       .arg(c.requests)
                       .arg(c.answers)
                       .arg(failures.isEmpty() ? tr("нет") : failures.join(QStringLiteral(", ")));
    if (c.roundTrips > 0)
        text += tr("; цикл %1 мс").arg(c.roundTripMeanMs(), 0, 'f', 1);
    lineStatus->setText(text);
    lineStatus->setStyleSheet(failures.isEmpty() ? QString() : QStringLiteral("color: #c00000;"));
}
