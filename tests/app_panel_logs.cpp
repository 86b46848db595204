// Connection panel and the two logs, driven through the real form.
#include "app_support.h"

#include "queuedspy.h"
#include "serialtop.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>

namespace {

const QRegularExpression kStamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d: "));

void appendUpdater(MainWindow &w, const QString &s, bool newLine, const QColor &color)
{
    QVERIFY(QMetaObject::invokeMethod(&w, "_appendLogUpdater", Q_ARG(QString, s), Q_ARG(bool, newLine),
                                      Q_ARG(QColor, color)));
}

void appendMain(MainWindow &w, const QString &s)
{
    QVERIFY(QMetaObject::invokeMethod(&w, "_appendLog", Q_ARG(QString, s)));
}

// Background colour of the character at offset pos within the block.
QColor backgroundAt(const QTextBlock &block, int pos)
{
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (pos >= fragment.position() - block.position()
            && pos < fragment.position() - block.position() + fragment.length())
            return fragment.charFormat().background().color();
    }
    return QColor();
}

const QColor kWhite(255, 255, 255, 255);
const QColor kGreen(0, 255, 0, 255);
const QColor kRed(255, 0, 0, 255);

} // namespace

class AppPanelLogs : public QObject
{
    Q_OBJECT
private slots:
    void failedConnectionResetsConnectButton();
    void quickDoubleClickEndsDisconnected();
    void programmingLogContinuesLineInItsOwnColour();
    void continuationGoesToUserCursor();
    void logsShowMarkupLikeTextVerbatim();
    void mainLogStampsOnlyFirstLineOfMessage();
    void logsShowTheirNewestLine();
    void imageDialogStartsWhereTheImageIs();
};

void AppPanelLogs::failedConnectionResetsConnectButton()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    MainWindow w;
    w.selectPort(dir.filePath("no-such-port"));
    auto *button = widget<QPushButton>(w, "pushButton_connect_to_rs485");
    QueuedSpy changes(w.device(), &SerialTop::connectedChanged);

    QTest::mouseClick(button, Qt::LeftButton);
    // The caption changes at once, before the device object answers.
    QVERIFY(button->isChecked());
    QCOMPARE(button->text(), QString("Отключить"));

    QTRY_VERIFY_WITH_TIMEOUT(!changes.isEmpty(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!button->isChecked(), 20000);
    QCOMPARE(button->text(), QString("Подключить"));
    QTRY_VERIFY_WITH_TIMEOUT(mainLog(w).contains("Ошибка подключения к порту"), 20000);
    QVERIFY(mainLog(w).contains("Подключение..."));
    for (const QVariant &state : changes.takeFirst())
        QCOMPARE(state.toBool(), false);

    // A new click starts a new attempt.
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(button->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(!button->isChecked(), 20000);
    QCOMPARE(button->text(), QString("Подключить"));
}

void AppPanelLogs::quickDoubleClickEndsDisconnected()
{
    ScopedWorkDir dir;
    MainWindow w;
    w.selectPort(dir.filePath("no-such-port"));
    auto *button = widget<QPushButton>(w, "pushButton_connect_to_rs485");
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isChecked());
    QCOMPARE(button->text(), QString("Подключить"));
    // The connect request runs first, then the disconnect request.
    QTRY_VERIFY_WITH_TIMEOUT(mainLog(w).count("Отключение...") >= 2, 20000);
    const QString log = mainLog(w);
    QVERIFY(log.indexOf("Подключение...") < log.lastIndexOf("Отключение..."));
    QVERIFY(!button->isChecked());
}

void AppPanelLogs::programmingLogContinuesLineInItsOwnColour()
{
    ScopedWorkDir dir;
    MainWindow w;
    appendUpdater(w, "Проверка данных файла... ", true, kWhite);
    appendUpdater(w, "OK", false, kGreen);
    appendUpdater(w, "Программирование... ", true, kWhite);
    appendUpdater(w, "ошибка! Нет ответа от устройства!", false, kRed);

    const QStringList lines = programmingLog(w).split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY2(kStamp.match(lines[0]).hasMatch(), qPrintable(lines[0]));
    QVERIFY(lines[0].endsWith(": Проверка данных файла... OK"));
    QVERIFY(lines[1].endsWith(": Программирование... ошибка! Нет ответа от устройства!"));
    QCOMPARE(lines[1].count(kStamp), 1);

    const QTextDocument *doc = widget<QTextEdit>(w, "textEdit_log_apdater")->document();
    const QTextBlock first = doc->firstBlock();
    QCOMPARE(backgroundAt(first, 0), kWhite);
    QCOMPARE(backgroundAt(first, first.length() - 2), kGreen);
    const QTextBlock second = first.next();
    QCOMPARE(backgroundAt(second, 20), kWhite);
    QCOMPARE(backgroundAt(second, second.length() - 2), kRed);
    // The main log is left alone.
    QCOMPARE(mainLog(w), QString());
}

void AppPanelLogs::continuationGoesToUserCursor()
{
    ScopedWorkDir dir;
    MainWindow w;
    appendUpdater(w, "first line", true, kWhite);
    appendUpdater(w, "second line", true, kWhite);
    auto *log = widget<QTextEdit>(w, "textEdit_log_apdater");
    QTextCursor cursor(log->document()->firstBlock());
    cursor.movePosition(QTextCursor::EndOfBlock);
    log->setTextCursor(cursor);
    appendUpdater(w, " [here]", false, kGreen);
    const QStringList lines = programmingLog(w).split('\n');
    QVERIFY(lines[0].endsWith("first line [here]"));
    QVERIFY(lines[1].endsWith("second line"));
}

void AppPanelLogs::logsShowMarkupLikeTextVerbatim()
{
    ScopedWorkDir dir;
    MainWindow w;
    const QString markup = QStringLiteral("<b>bold</b> &lt; C:/fw<1>.bin");
    appendMain(w, markup);
    QVERIFY(mainLog(w).endsWith(": " + markup));
    appendUpdater(w, markup, true, kWhite);
    appendUpdater(w, "<i>x</i>", false, kGreen);
    QVERIFY(programmingLog(w).endsWith(": " + markup + "<i>x</i>"));
}

void AppPanelLogs::mainLogStampsOnlyFirstLineOfMessage()
{
    ScopedWorkDir dir;
    MainWindow w;
    appendMain(w, "one");
    appendMain(w, "two\nthree");
    const QStringList lines = mainLog(w).split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(kStamp.match(lines[0]).hasMatch());
    QVERIFY(kStamp.match(lines[1]).hasMatch());
    QCOMPARE(lines[2], QString("three"));
}

void AppPanelLogs::logsShowTheirNewestLine()
{
    ScopedWorkDir dir;
    MainWindow w;
    auto *tabs = widget<QTabWidget>(w, "tabWidget");
    tabs->setCurrentWidget(widget<QWidget>(w, "tab_programming"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *main = widget<QTextEdit>(w, "textEdit_log");
    auto *programming = widget<QTextEdit>(w, "textEdit_log_apdater");
    for (int i = 0; i < 120; ++i) {
        appendMain(w, QStringLiteral("line %1").arg(i));
        appendUpdater(w, QStringLiteral("step %1... ").arg(i), true, kWhite);
        appendUpdater(w, "OK", false, kGreen);
    }
    QTRY_VERIFY(showsNewestLine(main));
    QTRY_VERIFY(showsNewestLine(programming));

    // A user who scrolled up to read is brought back by the next line.
    for (QTextEdit *log : {main, programming}) {
        QScrollBar *bar = log->verticalScrollBar();
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(bar->value(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 0); // not pulled back while nothing comes
    }
    appendMain(w, "newest");
    appendUpdater(w, "newest", true, kRed);
    QTRY_VERIFY(showsNewestLine(main));
    QTRY_VERIFY(showsNewestLine(programming));
}

void AppPanelLogs::imageDialogStartsWhereTheImageIs()
{
    ScopedWorkDir dir;
    QVERIFY(QDir(dir.path()).mkdir("images"));
    QVERIFY(dir.writeFile("images/fw.bin", "abcd"));
    MainWindow w;
    auto *dialog = w.findChild<QFileDialog *>();
    QVERIFY(dialog);
    auto *fileName = widget<QLineEdit>(w, "lineEdit_file_name");
    auto *open = widget<QPushButton>(w, "pushButton_open_file_image");
    const QString image = QDir(dir.filePath("images")).canonicalPath() + "/fw.bin";
    fileName->setText(image);

    QString seenDirectory;
    QStringList seenFilters;
    QTimer::singleShot(0, dialog, [&] {
        seenDirectory = dialog->directory().canonicalPath();
        seenFilters = dialog->nameFilters();
        dialog->reject();
    });
    QTest::mouseClick(open, Qt::LeftButton);
    QCOMPARE(seenDirectory, QDir(dir.filePath("images")).canonicalPath());
    QCOMPARE(seenFilters, QStringList("Файлы прошивки (*.bin *.ldr)"));
    QCOMPARE(fileName->text(), image); // cancelled: unchanged

    // A wrong path leaves the dialog where it was.
    fileName->setText(dir.filePath("nowhere/else.bin"));
    QTimer::singleShot(0, dialog, [&] {
        seenDirectory = dialog->directory().canonicalPath();
        dialog->reject();
    });
    QTest::mouseClick(open, Qt::LeftButton);
    QCOMPARE(seenDirectory, QDir(dir.filePath("images")).canonicalPath());
    QCOMPARE(fileName->text(), dir.filePath("nowhere/else.bin"));
}

QTEST_MAIN(AppPanelLogs)
#include "app_panel_logs.moc"
