// The real form as the window builds it, and the tabs each info.txt gives.
#include "app_support.h"

#include "serialtop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QToolButton>

#include <qcustomplot.h>

namespace {

QStringList tabTitles(const QWidget &window)
{
    auto *tabs = widget<QTabWidget>(window, "tabWidget");
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i)
        titles << tabs->tabText(i);
    return titles;
}

QStringList items(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

const QStringList kAllTabs{"Измерение", "Настройка", "Телеметрия", "Программирование", "Debug"};
const QStringList kAssemblageTabs{"Измерение", "Настройка", "Телеметрия", "Программирование"};
const QStringList kDefaultTabs{"Настройка", "Программирование"};
const QStringList kProtocols{"Стандартный", "Расширенный", "Modbus", "Debug"};

// Every visible label and combo box of the window whose text does not show
// whole: narrower or lower than its text, or cut by its parent. A widget in a
// scroll area is first scrolled into view.
QStringList clippedTexts(const QWidget &window)
{
    QStringList found;
    auto check = [&found](const QWidget *w, const QString &text, const QRect &room) {
        const QSize need = w->fontMetrics().size(0, text);
        if (need.width() > room.width() || need.height() > room.height())
            found << QStringLiteral("%1 \"%2\": needs %3x%4, has %5x%6")
                         .arg(w->objectName(), text).arg(need.width()).arg(need.height())
                         .arg(room.width()).arg(room.height());
    };
    for (QWidget *w : window.findChildren<QWidget *>()) {
        if (!w->isVisible())
            continue;
        if (auto *label = qobject_cast<const QLabel *>(w)) {
            if (label->text().isEmpty())
                continue;
            const int m = label->margin();
            check(w, label->text(), label->contentsRect().adjusted(m, m, -m, -m));
        } else if (auto *combo = qobject_cast<const QComboBox *>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                               QStyle::SC_ComboBoxEditField, combo);
            for (int i = 0; i < combo->count(); ++i)
                check(w, combo->itemText(i), field);
        } else {
            continue;
        }
        for (QWidget *up = w->parentWidget(); up; up = up->parentWidget())
            if (auto *scroll = qobject_cast<QScrollArea *>(up))
                scroll->ensureWidgetVisible(w, 0, 0);
        if (w->visibleRegion().boundingRect().size() != w->size()
            || !w->parentWidget()->rect().contains(w->geometry()))
            found << w->objectName() + QStringLiteral(": cut by its parent");
    }
    return found;
}

} // namespace

class AppFormModes : public QObject
{
    Q_OBJECT
private slots:
    void formStartsWithItsDesignedValues();
    void spinBoxesClampReportedValues();
    void infoFileChoosesTabs_data();
    void infoFileChoosesTabs();
    void defaultModeHidesExpertControls();
    void reportsReachRemovedTabs();
    void heightPlotStartsAgainAfter300Readings();
    void everyTabShowsItsControlsAndTextsWhole();
};

void AppFormModes::formStartsWithItsDesignedValues()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    MainWindow w;
    QCOMPARE(w.windowTitle(), QString("Configurator_ZETRAv1"));
    QCOMPARE(w.minimumSize(), QSize(650, 600));
    QVERIFY(!w.windowIcon().isNull());
    QVERIFY(widget<QRadioButton>(w, "radioButton_FMCWmode")->isChecked());
    QVERIFY(!widget<QRadioButton>(w, "radioButton_CWmode")->isChecked());
    QCOMPARE(items(widget<QComboBox>(w, "comboBox_ProtTypeList")), kProtocols);
    QCOMPARE(items(widget<QComboBox>(w, "comboBox_ProtTypeListDbg")), kProtocols);
    QCOMPARE(widget<QComboBox>(w, "comboBox_ProtTypeList")->currentText(), QString("Стандартный"));
    auto *reduction = widget<QComboBox>(w, "comboBox_ReductionTxPowerList");
    QCOMPARE(items(reduction),
             QStringList({"0 дБ", "0,4 дБ", "0,8 дБ", "1,4 дБ", "2,5 дБ", "4 дБ", "6 дБ", "7 дБ"}));
    QCOMPARE(reduction->currentIndex(), 0);
    QCOMPARE(items(widget<QComboBox>(w, "comboBox_typeRawData")),
             QStringList({"Данные АЦП-I", "Данные АЦП-Q", "Данные АЦП-IQ", "Спектр", "Интегратор"}));
    QCOMPARE(widget<QComboBox>(w, "comboBox_typeRawData")->currentIndex(), 0);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_mbAdr")->value(), 19);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_FmcwBand")->value(), 200);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_SizeLockData")->value(), 0);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_AdrMbDbg")->value(), 0);
    QCOMPARE(widget<QDoubleSpinBox>(w, "doubleSpinBox_TrsSmthCoef")->decimals(), 3);
    QCOMPARE(widget<QDoubleSpinBox>(w, "doubleSpinBox_TrsSmthCoef")->singleStep(), 0.001);
    QCOMPARE(widget<QDoubleSpinBox>(w, "doubleSpinBox_DetThCoefDC")->decimals(), 2);
    QCOMPARE(widget<QDoubleSpinBox>(w, "doubleSpinBox_DetMtiCoef")->maximum(), 99.99);
    auto *progress = widget<QProgressBar>(w, "progressBar_staus_updater");
    QCOMPARE(progress->value(), 0);
    QVERIFY(!progress->isTextVisible());
    auto *connect = widget<QPushButton>(w, "pushButton_connect_to_rs485");
    QVERIFY(connect->isCheckable());
    QVERIFY(!connect->isChecked());
    QCOMPARE(connect->text(), QString("Подключить"));
    auto *start = widget<QToolButton>(w, "toolButton_start_meas");
    QVERIFY(start->isCheckable());
    QVERIFY(!start->icon().isNull());
    QCOMPARE(widget<QLabel>(w, "label_distace")->text(), QString("Высота: "));
    QCOMPARE(widget<QLabel>(w, "label_p2pGraph")->text(), QString("P-P = "));
    QVERIFY(!widget<QPushButton>(w, "pushButton_setTrsSmthCoef")->icon().isNull());
    QVERIFY(!widget<QPushButton>(w, "pushButton_getAllSettings")->icon().isNull());
    QVERIFY(widget<QComboBox>(w, "comboBox_list_port_rs485")->isEditable());
}

void AppFormModes::spinBoxesClampReportedValues()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    MainWindow w;
    SerialTop *top = w.device();
    // Reports are emitted here in the window's thread, so they land at once.
    emit top->rcv_AdrMb(100);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_mbAdr")->value(), 100);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_AdrMbDbg")->value(), 20);
    emit top->rcvFmcwBandGHz(250.9f);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_FmcwBand")->value(), 250);
    emit top->rcvFmcwBandGHz(24.0f);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_FmcwBand")->value(), 100);
    emit top->rcvFmcwBandGHz(5000.0f);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_FmcwBand")->value(), 2000);
    emit top->rcv_TrsSmthCoef(0.1234f);
    QCOMPARE(widget<QDoubleSpinBox>(w, "doubleSpinBox_TrsSmthCoef")->value(), 0.123);
    emit top->rcvProtocolType(3);
    QCOMPARE(widget<QComboBox>(w, "comboBox_ProtTypeList")->currentText(), QString("Debug"));
    QCOMPARE(widget<QComboBox>(w, "comboBox_ProtTypeListDbg")->currentText(), QString("Debug"));
}

void AppFormModes::infoFileChoosesTabs_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QStringList>("tabs");

    QTest::newRow("missing file") << false << QByteArray() << kDefaultTabs;
    QTest::newRow("empty file") << true << QByteArray() << kDefaultTabs;
    QTest::newRow("elevated, last thing in the file") << true << QByteArray("ZETRA|Elevated") << kAllTabs;
    QTest::newRow("elevated, line feed and more lines") << true << QByteArray("ZETRA|Elevated\nnext|line\n")
                                                        << kAllTabs;
    QTest::newRow("elevated, carriage return and line feed") << true << QByteArray("ZETRA|Elevated\r\n") << kAllTabs;
    QTest::newRow("elevated, carriage return last") << true << QByteArray("ZETRA|Elevated\r") << kAllTabs;
    // Only one line ending is forgiven, and only at the end of the field.
    QTest::newRow("two line endings") << true << QByteArray("ZETRA|Elevated\r\r\n") << kDefaultTabs;
    QTest::newRow("carriage return inside the line") << true << QByteArray("ZETRA|Elevated\rmore\n") << kDefaultTabs;
    QTest::newRow("elevated, further field") << true << QByteArray("ZETRA|Elevated|v2\nmore\n") << kAllTabs;
    QTest::newRow("elevated, empty first field") << true << QByteArray("|Elevated|") << kAllTabs;
    QTest::newRow("assemblage") << true << QByteArray("ZETRA|Assemblage|\n") << kAssemblageTabs;
    QTest::newRow("assemblage, last thing") << true << QByteArray("ZETRA|Assemblage") << kAssemblageTabs;
    QTest::newRow("other letter case") << true << QByteArray("ZETRA|elevated|") << kDefaultTabs;
    QTest::newRow("leading space") << true << QByteArray("ZETRA| Elevated|") << kDefaultTabs;
    QTest::newRow("trailing space") << true << QByteArray("ZETRA|Assemblage |") << kDefaultTabs;
    QTest::newRow("no bar") << true << QByteArray("Elevated") << kDefaultTabs;
    QTest::newRow("mode in the third field") << true << QByteArray("a|b|Elevated|") << kDefaultTabs;
    QTest::newRow("mode on the second line") << true << QByteArray("ZETRA\nx|Elevated|") << kDefaultTabs;
    QTest::newRow("zero byte ends the text") << true << QByteArray("ZETRA|Elevated\0|junk", 20) << kAllTabs;
    QTest::newRow("zero byte inside the word") << true << QByteArray("ZETRA|Elev\0ated|", 17) << kDefaultTabs;
    QTest::newRow("binary junk") << true << QByteArray("\xff\xfe|\x80\x81\n", 6) << kDefaultTabs;
}

void AppFormModes::infoFileChoosesTabs()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, tabs);

    ScopedWorkDir dir;
    if (present)
        QVERIFY(dir.writeFile("info.txt", contents));
    MainWindow w;
    QCOMPARE(tabTitles(w), tabs);
    // The first remaining tab is current, although the form made "Настройка" current.
    QCOMPARE(widget<QTabWidget>(w, "tabWidget")->currentIndex(), 0);
    QCOMPARE(widget<QTabWidget>(w, "tabWidget")->tabText(0), tabs.first());
    const QStringList protocols = items(widget<QComboBox>(w, "comboBox_ProtTypeList"));
    QCOMPARE(protocols, tabs == kAllTabs ? kProtocols : QStringList(kProtocols.mid(0, 3)));
    // Nothing about the mode is logged.
    QCOMPARE(mainLog(w), QString());
}

void AppFormModes::defaultModeHidesExpertControls()
{
    ScopedWorkDir dir;
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!widget<QGroupBox>(w, "groupBox_TypeModulation")->isVisible());
        QVERIFY(!widget<QPushButton>(w, "pushButton_start_diagnostics")->isVisible());
        QVERIFY(!widget<QCheckBox>(w, "checkBox_LogRxByte_rs485")->isVisible());
        QVERIFY(!widget<QCheckBox>(w, "checkBox_LogTxByte_rs485")->isVisible());
        QVERIFY(widget<QPushButton>(w, "pushButton_saveSettings")->isVisible());
    }
    QVERIFY(dir.writeFile("info.txt", "x|Assemblage"));
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(widget<QCheckBox>(w, "checkBox_LogRxByte_rs485")->isVisible());
    auto *tabs = widget<QTabWidget>(w, "tabWidget");
    tabs->setCurrentIndex(1);
    QTRY_VERIFY(widget<QGroupBox>(w, "groupBox_TypeModulation")->isVisible());
    QVERIFY(widget<QPushButton>(w, "pushButton_start_diagnostics")->isVisible());
}

void AppFormModes::reportsReachRemovedTabs()
{
    ScopedWorkDir dir; // default mode: measurement, telemetry and debug are gone
    MainWindow w;
    SerialTop *top = w.device();
    emit top->rcv_AdrMb(7);
    QCOMPARE(widget<QSpinBox>(w, "spinBox_AdrMbDbg")->value(), 7);
    emit top->rcvProtocolType(3);
    // The limited list has no "Debug": no current item; the debug list shows it.
    QCOMPARE(widget<QComboBox>(w, "comboBox_ProtTypeList")->currentIndex(), -1);
    QCOMPARE(widget<QComboBox>(w, "comboBox_ProtTypeListDbg")->currentText(), QString("Debug"));
    emit top->checkDistance(0.123456f);
    QCOMPARE(widget<QLabel>(w, "label_distace")->text(), QString("Высота: 0.1235 (м)"));
    emit top->checkDistance(-3.5f);
    QCOMPARE(widget<QLabel>(w, "label_distace")->text(), QString("Высота: -3.5000 (м)"));
}

void AppFormModes::heightPlotStartsAgainAfter300Readings()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    MainWindow w;
    SerialTop *top = w.device();
    QCPGraph *curve = widget<QCustomPlot>(w, "widget_plotter")->graph(0);
    for (int i = 0; i < 300; ++i)
        emit top->checkDistance(float(i));
    QCOMPARE(curve->dataCount(), 300);
    QCOMPARE(curve->data()->at(299)->key, 299.0);
    QCOMPARE(curve->data()->at(299)->value, 299.0);
    // The 301st reading begins a fresh curve at the left edge.
    emit top->checkDistance(42.0f);
    QCOMPARE(curve->dataCount(), 1);
    QCOMPARE(curve->data()->at(0)->key, 0.0);
    QCOMPARE(curve->data()->at(0)->value, 42.0);
    emit top->checkDistance(43.0f);
    QCOMPARE(curve->dataCount(), 2);
}

void AppFormModes::everyTabShowsItsControlsAndTextsWhole()
{
    ScopedWorkDir dir;
    QVERIFY(dir.writeFile("info.txt", "x|Elevated"));
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *tabs = widget<QTabWidget>(w, "tabWidget");
    tabs->setCurrentWidget(widget<QWidget>(w, "tab_rerulation"));
    // With the platform's font the boxes must still hold their controls whole.
    for (const char *name : {"radioButton_FMCWmode", "radioButton_CWmode", "pushButton_start_diagnostics"}) {
        QWidget *control = widget<QWidget>(w, name);
        QVERIFY2(control->width() >= control->minimumSizeHint().width()
                     && control->height() >= control->minimumSizeHint().height(),
                 name);
    }
    for (const char *name : {"radioButton_FMCWmode", "radioButton_CWmode", "pushButton_start_diagnostics",
                             "comboBox_ProtTypeList", "spinBox_mbAdr", "pushButton_saveSettings"}) {
        QWidget *control = widget<QWidget>(w, name);
        QVERIFY2(control->visibleRegion().boundingRect().size() == control->size(), name);
    }
    QVERIFY(!widget<QWidget>(w, "groupBox_3")->geometry().intersects(widget<QWidget>(w, "widget")->geometry()));
    // Every label and list item on every tab, the debug rows scrolled into view.
    QStringList clipped;
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QCoreApplication::processEvents();
        clipped << clippedTexts(w);
    }
    clipped.removeDuplicates();
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("; "))));

    // The programming tab's two fields say what they are.
    QCOMPARE(widget<QLabel>(w, "label_firmwareFile")->buddy(), widget<QWidget>(w, "lineEdit_file_name"));
    QCOMPARE(widget<QLabel>(w, "label_programmingLog")->buddy(), widget<QWidget>(w, "textEdit_log_apdater"));
    // A long port name is shown whole.
    const QString longPort = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    w.selectPort(longPort);
    auto *ports = widget<QComboBox>(w, "comboBox_list_port_rs485");
    QTRY_VERIFY(ports->lineEdit()->width() >= ports->lineEdit()->fontMetrics().horizontalAdvance(longPort));
    QCOMPARE(ports->currentText(), longPort);
    // The window grows with it: nothing beside the box is covered.
    QTRY_VERIFY(!ports->geometry().intersects(widget<QWidget>(w, "toolButton_scan_port_rs485")->geometry()));
    QVERIFY(!widget<QWidget>(w, "toolButton_scan_port_rs485")->geometry().intersects(
        widget<QWidget>(w, "checkBox_LogTxByte_rs485")->geometry()));
}

QTEST_MAIN(AppFormModes)
#include "app_form_modes.moc"
