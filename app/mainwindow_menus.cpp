// Menu bar, the logs' context menus, and saving and clearing the logs.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "language.h"
#include "recordsbrowser.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QSaveFile>
#include <QSettings>

namespace {

QAction *newAction(QMenu *menu, const char *objectName, const QString &text, const QKeySequence &shortcut = {})
{
    QAction *action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(objectName));
    action->setShortcut(shortcut);
    return action;
}

QKeySequence shortcut(const char *keys)
{
    return QKeySequence(QString::fromLatin1(keys), QKeySequence::PortableText);
}

} // namespace

void MainWindow::createMenus()
{
    Ui_MainWindow *f = ui;
    QMenuBar *bar = menuBar();

    QMenu *file = bar->addMenu(tr("&Файл"));
    connect(newAction(file, "action_saveParameters", tr("Сохранить параметры…"), QKeySequence::Save),
            &QAction::triggered, this, &MainWindow::saveParameters);
    connect(newAction(file, "action_loadParameters", tr("Загрузить параметры…"), QKeySequence::Open),
            &QAction::triggered, this, &MainWindow::loadParameters);
    file->addSeparator();
    createLanguageMenu(file->addMenu(tr("Язык")));
    file->addSeparator();
    connect(newAction(file, "action_quit", tr("Выход"), shortcut("Ctrl+Q")), &QAction::triggered,
            this, &QWidget::close);

    // The station view runs its units itself; the window's own device is
    // not at hand there.
    if (mode != UiMode::Station) {
        QMenu *device = bar->addMenu(tr("&Устройство"));
        connect(newAction(device, "action_connect", tr("Подключить / отключить"), shortcut("Ctrl+K")),
                &QAction::triggered, f->pushButton_connect_to_rs485, &QAbstractButton::click);
        connect(newAction(device, "action_scanPorts", tr("Обновить список портов"), shortcut("F5")),
                &QAction::triggered, f->toolButton_scan_port_rs485, &QAbstractButton::click);
        connect(newAction(device, "action_lineMonitor", tr("Монитор линии"), shortcut("Ctrl+Shift+M")),
                &QAction::triggered, this, &MainWindow::showLineMonitor);
        // Measurement exists only where its tab does.
        if (mode != UiMode::Default) {
            device->addSeparator();
            connect(newAction(device, "action_startMeasurement", tr("Измерение: пуск / стоп"),
                              shortcut("Ctrl+M")),
                    &QAction::triggered, f->toolButton_start_meas, &QAbstractButton::click);
            QAction *recordAction = newAction(device, "action_record", tr("Запись измерений…"), shortcut("Ctrl+R"));
            recordAction->setCheckable(true);
            connect(recordAction, &QAction::triggered, f->pushButton_recordHeight, &QAbstractButton::click);
            connect(f->pushButton_recordHeight, &QAbstractButton::toggled, recordAction, &QAction::setChecked);
            connect(newAction(device, "action_restartHeight", tr("Сбросить график и статистику"),
                              shortcut("Ctrl+Shift+R")),
                    &QAction::triggered, f->pushButton_restartHeight, &QAbstractButton::click);
        }
        device->addSeparator();
        connect(newAction(device, "action_unitHistory", tr("История изделия…"), shortcut("Ctrl+H")),
                &QAction::triggered, this, [this] { showRecords(unitSerial->text()); });
    }

    QMenu *logs = bar->addMenu(tr("&Журнал"));
    QTextEdit *mainLog = f->textEdit_log;
    QTextEdit *programmingLog = f->textEdit_log_apdater;
    connect(newAction(logs, "action_saveLog", tr("Сохранить журнал…"), shortcut("Ctrl+L")),
            &QAction::triggered, this, [this, mainLog] { saveLog(mainLog); });
    connect(newAction(logs, "action_clearLog", tr("Очистить журнал"), shortcut("Ctrl+Shift+L")),
            &QAction::triggered, this, [this, mainLog] { clearLog(mainLog); });
    logs->addSeparator();
    connect(newAction(logs, "action_saveProgrammingLog", tr("Сохранить журнал программирования…")),
            &QAction::triggered, this, [this, programmingLog] { saveLog(programmingLog); });
    connect(newAction(logs, "action_clearProgrammingLog", tr("Очистить журнал программирования")),
            &QAction::triggered, this, [this, programmingLog] { clearLog(programmingLog); });
    logs->addSeparator();
    connect(newAction(logs, "action_records", tr("Журнал изделий…"), shortcut("Ctrl+J")), &QAction::triggered,
            this, [this] { showRecords(); });
    connect(newAction(logs, "action_recordsLocation", tr("Хранилище записей…")), &QAction::triggered, this,
            [this] { chooseRecordsLocation(); });

    QMenu *help = bar->addMenu(tr("&Справка"));
    connect(newAction(help, "action_about", tr("О программе")), &QAction::triggered, this, [this] {
        QMessageBox::about(this, tr("О программе"),
                           tr("%1 %2\nКонфигуратор радиовысотомера ZETRA (Modbus RTU, RS-485).")
                               .arg(QApplication::applicationName(), QApplication::applicationVersion()));
    });

    // The logs keep their own edit menu and gain save and clear.
    for (QTextEdit *log : {mainLog, programmingLog}) {
        log->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(log, &QWidget::customContextMenuRequested, this,
                [this, log](const QPoint &position) { showLogMenu(log, position); });
    }
}

// Each language is named in itself, so that a user lost in the other one
// still finds their own. The choice applies from the next start.
void MainWindow::createLanguageMenu(QMenu *menu)
{
    menu->setObjectName(QStringLiteral("menu_language"));
    const QString now = Language::current().isEmpty() ? Language::available().first() : Language::current();
    auto *group = new QActionGroup(menu);
    const QList<QPair<QString, QString>> names = {{QStringLiteral("ru"), QStringLiteral("Русский")},
                                                  {QStringLiteral("en"), QStringLiteral("English")}};
    for (const auto &[code, name] : names) {
        QAction *action = menu->addAction(name);
        action->setObjectName(QStringLiteral("action_language_%1").arg(code));
        action->setCheckable(true);
        action->setChecked(code == now);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, code = code, now] {
            Language::remember(code);
            if (code == now)
                return;
            auto *box = new QMessageBox(QMessageBox::Information, tr("Язык"),
                                        tr("Язык окна сменится при следующем запуске программы."), QMessageBox::Ok,
                                        this);
            box->setObjectName(QStringLiteral("messageBox_languageChanged"));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        });
    }
}

void MainWindow::showLogMenu(QTextEdit *log, const QPoint &position)
{
    QMenu *menu = log->createStandardContextMenu(position);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    connect(menu->addAction(tr("Сохранить журнал…")), &QAction::triggered, this, [this, log] { saveLog(log); });
    connect(menu->addAction(tr("Очистить журнал")), &QAction::triggered, this, [this, log] { clearLog(log); });
    menu->popup(log->viewport()->mapToGlobal(position));
}

void MainWindow::saveLog(QTextEdit *log)
{
    const bool programming = log == ui->textEdit_log_apdater;
    const QString suggested = QStringLiteral("%1-%2.txt")
                                  .arg(programming ? QStringLiteral("programming-log") : QStringLiteral("log"),
                                       QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = chooseFile(FileKind::Log, true, tr("Сохранить журнал"), tr("Текст (*.txt)"), suggested);
    if (path.isEmpty())
        return;
    // The old file stays whole until the new one is completely written.
    QSaveFile file(path);
    QString text = log->toPlainText();
    if (!text.isEmpty())
        text += QLatin1Char('\n');
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        _appendLog(tr("Журнал не сохранён: %1: %2").arg(path, file.errorString()));
        return;
    }
    _appendLog(tr("Журнал сохранён в %1").arg(path));
}

// A log is a record of what happened: it goes only when the user says so.
void MainWindow::clearLog(QTextEdit *log)
{
    if (log->document()->isEmpty())
        return;
    const bool programming = log == ui->textEdit_log_apdater;
    auto *question = new QMessageBox(
        QMessageBox::Question, programming ? tr("Очистить журнал программирования") : tr("Очистить журнал"),
        tr("Удалить из журнала все строки (%1)? Несохранённые строки будут потеряны.")
            .arg(log->document()->blockCount()),
        QMessageBox::Yes | QMessageBox::No, this);
    question->setObjectName(QStringLiteral("messageBox_clearLog"));
    question->setDefaultButton(QMessageBox::No);
    question->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<QTextEdit> target = log;
    connect(question, &QMessageBox::finished, this, [target](int result) {
        if (result == QMessageBox::Yes && target)
            target->clear();
    });
    question->open();
}

QString MainWindow::chooseFile(FileKind kind, bool forSaving, const QString &caption, const QString &filter,
                               const QString &suggestedName)
{
    FileRequest request{kind, forSaving, caption, filter, suggestedName, rememberedFolder(kind)};
    QString path = fileChooser ? fileChooser(request) : QString();
    if (!path.isEmpty())
        rememberFolder(kind, QFileInfo(path).absolutePath());
    return path;
}

// Where the station and the records browser keep the records: an SQLite file,
// or a PostgreSQL server that several stations share; empty for the file in
// the user's data folder.
void MainWindow::chooseRecordsLocation()
{
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("recordsLocationDialog"));
    dialog.setWindowTitle(tr("Хранилище записей"));
    dialog.setLabelText(tr("Файл SQLite или сервер postgresql://пользователь@хост/база\n"
                           "(пусто: файл в папке данных пользователя)"));
    dialog.setTextValue(QSettings().value(QStringLiteral("records/location")).toString());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QString location = dialog.textValue().trimmed();
    QSettings().setValue(QStringLiteral("records/location"), location);
    _appendLog(tr("Записи изделий: %1").arg(RecordsBrowser::defaultRecordsLocation()));
}
