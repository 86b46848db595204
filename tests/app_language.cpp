// The window's languages: English from the compiled-in translation, for the
// form, the menus and the device object's log lines; Qt's own texts and the
// dates in Russian for the Russian window; the menu's choice remembered.
#include "app_support.h"
#include "deviceparameters.h"
#include "language.h"
#include "linemonitorwindow.h"
#include "portopenfailure.h"
#include "serialtop.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QHeaderView>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTabWidget>

class AppLanguage : public QObject
{
    Q_OBJECT
private slots:
    void englishWindowSpeaksEnglish();
    void textsFitTheirPlacesInEitherLanguage();
    void russianWindowHasQtTextsAndDatesInRussian();
    void menuChoiceIsRememberedAndCommandLineWins();
    void portOpenToRootAloneGetsAUdevRuleInEitherLanguage();
    void cleanup() { Language::apply(QStringLiteral("ru")); }
};

void AppLanguage::englishWindowSpeaksEnglish()
{
    QString problem;
    QVERIFY2(Language::apply(QStringLiteral("en"), &problem), qPrintable(problem));
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    MainWindow w;
    QCOMPARE(widget<QPushButton>(w, "pushButton_connect_to_rs485")->text(), QString("Connect"));
    auto *tabs = widget<QTabWidget>(w, "tabWidget");
    QCOMPARE(tabs->tabText(tabs->indexOf(widget<QWidget>(w, "tab_programming"))), QString("Programming"));
    QCOMPARE(w.menuBar()->actions().first()->text(), QString("&File"));
    QVERIFY(widget<QLabel>(w, "label_heightStats")->text().startsWith("Points: 0"));
    QVERIFY(w.findChild<QAction *>("action_language_en")->isChecked());

    // A line of the device object, sent from its own thread.
    QTest::mouseClick(widget<QPushButton>(w, "pushButton_get_firmware_revision"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(mainLog(w).contains("Device not connected!"), kDeviceWaitMs);
    QVERIFY(!mainLog(w).contains(QString::fromUtf8("подключ")));
}

// The English texts are longer in places: each is shown whole, and the
// connection box keeps its shape when its button's caption changes.
void AppLanguage::textsFitTheirPlacesInEitherLanguage()
{
    for (const QString language : {"en", "ru"}) {
        QString problem;
        QVERIFY2(Language::apply(language, &problem), qPrintable(problem));
        ScopedWorkDir dir;
        QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
        SimProcess sim;
        QVERIFY(sim.isRunning());
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The port is picked first: a long name widens the box by itself.
        w.selectPort(sim.portName());
        auto *button = widget<QPushButton>(w, "pushButton_connect_to_rs485");
        auto *box = widget<QWidget>(w, "groupBox_connect_to_rs485");
        auto shape = [box] {
            QList<QRect> rects{box->geometry()};
            for (const QWidget *child : box->findChildren<QWidget *>())
                rects << child->geometry();
            return rects;
        };
        // Settled: a round of events, the layouts' own included, changes nothing.
        auto settled = [&shape] {
            const QList<QRect> before = shape();
            QCoreApplication::processEvents();
            return shape() == before;
        };
        QTRY_VERIFY(settled() && settled());
        const QString connectText = button->text();
        const QList<QRect> disconnectedShape = shape();
        // What the box's layout sizes the button by; with a short port name
        // or a large font a change of it moves everything in the box.
        QLayoutItem *slot = box->layout()->itemAt(box->layout()->indexOf(button));
        const QSize disconnectedHint = slot->sizeHint();

        QVERIFY(connectTo(w, sim.portName()));
        QVERIFY(button->text() != connectText);
        QTRY_VERIFY(settled() && settled());
        QCOMPARE(shape(), disconnectedShape);
        QCOMPARE(slot->sizeHint(), disconnectedHint);
        // Each caption fits the button.
        QVERIFY(button->width() >= button->sizeHint().width());

        // The line monitor's headers are not cut.
        w.showLineMonitor();
        QHeaderView *header = widget<QTableView>(*w.lineMonitor(), "tableView_frames")->horizontalHeader();
        for (int column = 0; column < header->count(); ++column)
            QVERIFY2(header->sectionSize(column) >= header->sectionSizeHint(column),
                     qPrintable(QStringLiteral("%1: %2 < %3")
                                    .arg(header->model()->headerData(column, Qt::Horizontal).toString())
                                    .arg(header->sectionSize(column))
                                    .arg(header->sectionSizeHint(column))));

        // The self-test's first line, from the device object, ends in an
        // ellipsis in English (the Russian line keeps its original four dots).
        if (language == "en") {
            QTest::mouseClick(widget<QPushButton>(w, "pushButton_start_diagnostics"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(mainLog(w).contains("Starting the self-test..."), kDeviceWaitMs);
            QVERIFY2(!mainLog(w).contains("Starting the self-test...."), qPrintable(mainLog(w)));
        }
    }
}

void AppLanguage::russianWindowHasQtTextsAndDatesInRussian()
{
    QString problem;
    QVERIFY2(Language::apply(QStringLiteral("ru"), &problem), qPrintable(problem));
    QCOMPARE(QLocale().language(), QLocale::Russian);
    QVERIFY(QLocale().toString(QDate(2026, 12, 8), QLocale::LongFormat).contains(QString::fromUtf8("декабря")));
    ScopedWorkDir dir;
    MainWindow w;
    QCOMPARE(widget<QPushButton>(w, "pushButton_connect_to_rs485")->text(), QString::fromUtf8("Подключить"));
    // Qt's own buttons, as a message box of the window shows them.
    QMessageBox box(QMessageBox::Question, "t", "t", QMessageBox::Cancel | QMessageBox::Save, &w);
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QString::fromUtf8("Отмена"));
    QCOMPARE(box.button(QMessageBox::Save)->text(), QString::fromUtf8("Сохранить"));
    // The backup file's reasons, written in English for the command line.
    DeviceParameters::Backup backup;
    QString why;
    QVERIFY(!DeviceParameters::readBackup(dir.filePath("missing.json"), backup, why));
    QVERIFY2(why.startsWith(QString::fromUtf8("не удалось прочитать ")), qPrintable(why));
}

void AppLanguage::menuChoiceIsRememberedAndCommandLineWins()
{
    Language::apply(QStringLiteral("ru"));
    ScopedWorkDir dir;
    MainWindow w;
    QAction *english = w.findChild<QAction *>("action_language_en");
    QVERIFY(w.findChild<QAction *>("action_language_ru")->isChecked());
    english->trigger();
    QCOMPARE(Language::remembered(), QString("en"));
    // The window keeps its language until the next start, and says so.
    QTRY_VERIFY(w.findChild<QMessageBox *>("messageBox_languageChanged"));
    QCOMPARE(widget<QPushButton>(w, "pushButton_connect_to_rs485")->text(), QString::fromUtf8("Подключить"));
    QCOMPARE(Language::choose(QString()), QString("en"));
    QCOMPARE(Language::choose(QStringLiteral("ru")), QString("ru"));
    w.findChild<QAction *>("action_language_ru")->trigger();
    QCOMPARE(Language::choose(QString()), QString("ru"));
}

QTEST_MAIN(AppLanguage)
#include "app_language.moc"

// Joining group root is no advice: a port of that group is handed to
// dialout by a udev rule. A port of another group still names its group.
void AppLanguage::portOpenToRootAloneGetsAUdevRuleInEitherLanguage()
{
    PortOpenFailure rootOnly;
    rootOnly.kind = PortOpenFailure::Kind::NoPermission;
    rootOnly.port = QStringLiteral("/dev/ttyUSB0");
    rootOnly.detail = QStringLiteral("Permission denied");
    rootOnly.group = QStringLiteral("root");
    PortOpenFailure dialout = rootOnly;
    dialout.group = QStringLiteral("dialout");

    for (const QString &language : {QStringLiteral("ru"), QStringLiteral("en")}) {
        QVERIFY(Language::apply(language));
        const QString root = SerialTop::describe(rootOnly);
        QVERIFY2(root.contains(PortOpenFailure::udevRuleExample()) && root.contains(QStringLiteral("root"))
                     && root.contains(QStringLiteral("usermod -aG dialout")) && !root.contains(QStringLiteral("-aG root")),
                 qPrintable(root));
        const QString group = SerialTop::describe(dialout);
        QVERIFY2(group.contains(QStringLiteral("usermod -aG dialout")) && !group.contains(QStringLiteral("udev")),
                 qPrintable(group));
    }
    QVERIFY(SerialTop::describe(rootOnly).contains(QStringLiteral("open to root alone")));
}
