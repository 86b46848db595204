// Settings and debug tabs: each set button sends its widget's value as it
// stands; reports come back straight into the widgets (see initConnections).
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "deviceparameters.h"
#include "parameterreport.h"
#include "serialtop.h"

#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace {

// Each field of the settings and debug tabs, the label that names it there,
// and the parameter's key in backup files and on the command line.
struct Field
{
    const char *box;
    const char *label;
    const char *key;
};

const Field kFields[] = {
    {"comboBox_ProtTypeList", "label", "protocol-type"},
    {"comboBox_ProtTypeListDbg", "label_16", "protocol-type"},
    {"spinBox_mbAdr", "label_2", "modbus-address"},
    {"spinBox_AdrMbDbg", "label_23", "modbus-address"},
    {"spinBox_FmcwBand", "label_13", "fmcw-band"},
    {"comboBox_ReductionTxPowerList", "label_20", "power-reduction"},
    {"spinBox_SizeLockData", "label_17", "lock-data-size"},
    {"doubleSpinBox_DetThCoefMin", "label_14", "th-coef-min"},
    {"doubleSpinBox_DetThCoefMax", "label_19", "th-coef-max"},
    {"doubleSpinBox_DetSmthCoef", "label_18", "smooth-coef"},
    {"doubleSpinBox_DetMtiCoef", "label_12", "mti-coef"},
    {"doubleSpinBox_DetThCoefDC", "label_22", "th-coef-dc"},
    {"doubleSpinBox_TrsSmthCoef", "label_15", "tracker-smooth-coef"},
};

const QColor kFlaggedBase(255, 214, 214);

// A number as the window shows numbers: the language's decimal mark.
QString localNumber(double value, bool isFloat)
{
    QString text = isFloat ? DeviceParameters::shortestText(float(value)) : QString::number(value, 'g', 10);
    return text.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

// What a field shows, and the value it stands for: a list's index is the
// device's code.
QString fieldText(const QWidget *field)
{
    if (const auto *list = qobject_cast<const QComboBox *>(field))
        return list->currentText();
    if (const auto *box = qobject_cast<const QAbstractSpinBox *>(field))
        return box->text();
    return QString();
}

double fieldValue(const QWidget *field)
{
    if (const auto *list = qobject_cast<const QComboBox *>(field))
        return list->currentIndex();
    if (const auto *spin = qobject_cast<const QSpinBox *>(field))
        return spin->value();
    if (const auto *spin = qobject_cast<const QDoubleSpinBox *>(field))
        return float(spin->value());
    return 0;
}

} // namespace

QHash<QString, QString> MainWindow::parameterNames() const
{
    QHash<QString, QString> names;
    for (const Field &field : kFields) {
        const QString key = QString::fromLatin1(field.key);
        if (names.contains(key))
            continue;
        if (const auto *label = findChild<QLabel *>(QString::fromLatin1(field.label))) {
            QString text = label->text().trimmed();
            if (text.endsWith(QLatin1Char(':')))
                text.chop(1);
            names.insert(key, text);
        }
    }
    return names;
}

QString MainWindow::fieldName(const QWidget *field) const
{
    for (const Field &entry : kFields)
        if (field->objectName() == QLatin1String(entry.box))
            return QStringLiteral("%1 (%2)").arg(parameterNames().value(QString::fromLatin1(entry.key)),
                                                  QString::fromLatin1(entry.key));
    return field->objectName();
}

// A spin box clamps a value to its range and rounds it to its decimals; the
// device may hold either kind of value (another tool wrote it, or a default
// outside the window's range). The field then shows what it can, marked, and
// the main log says what the device holds.
void MainWindow::showReported(QAbstractSpinBox *box, double value)
{
    QString why;
    if (auto *spin = qobject_cast<QSpinBox *>(box)) {
        // Whole numbers arrive as float for the band; a fraction is cut off.
        spin->setValue(int(std::trunc(value)));
        if (spin->value() != value)
            why = value < spin->minimum() || value > spin->maximum()
                      ? tr("вне пределов поля %1…%2").arg(spin->minimum()).arg(spin->maximum())
                      : tr("дробная часть отброшена");
    } else if (auto *spin = qobject_cast<QDoubleSpinBox *>(box)) {
        spin->setValue(value);
        // The value came as a float: the field shows it exactly when its
        // text reads back as the same float.
        if (float(spin->value()) != float(value))
            why = value < spin->minimum() || value > spin->maximum()
                      ? tr("вне пределов поля %1…%2")
                            .arg(spin->textFromValue(spin->minimum()), spin->textFromValue(spin->maximum()))
                      : tr("округлено: знаков после запятой в поле %1").arg(spin->decimals());
    }
    const bool isFloat = qobject_cast<QDoubleSpinBox *>(box) != nullptr;
    if (why.isEmpty()) {
        setFieldFlag(box, QString());
        return;
    }
    const QString held = localNumber(value, isFloat);
    setFieldFlag(box, held);
    _appendLog(tr("%1: в устройстве %2, поле показывает %3 (%4)").arg(fieldName(box), held, box->text(), why));
}

// A list's index is the device's code; a code the list does not offer
// leaves it without a current item, shown blank, and flagged like a number
// the field cannot show.
void MainWindow::showReportedChoice(QComboBox *list, int value)
{
    list->setCurrentIndex(value);
    if (list->currentIndex() == value) {
        setFieldFlag(list, QString());
        return;
    }
    const QString held = QString::number(value);
    setFieldFlag(list, held);
    _appendLog(tr("%1: в устройстве %2, в списке поля такого значения нет (%3…%4)")
                   .arg(fieldName(list), held)
                   .arg(0)
                   .arg(list->count() - 1));
}

void MainWindow::setFieldFlag(QWidget *field, const QString &deviceText)
{
    if (deviceText.isEmpty()) {
        if (flaggedFields.remove(field) > 0) {
            field->setPalette(QPalette());
            field->setToolTip(QString());
        }
        return;
    }
    // Once the field shows another value (the user's), it means that value
    // and the flag goes.
    auto changed = [this, field] {
        if (flaggedFields.contains(field) && flaggedFields.value(field).shown != fieldText(field))
            setFieldFlag(field, QString());
    };
    const char *watched = "flagWatched";
    if (!field->property(watched).toBool()) {
        field->setProperty(watched, true);
        if (auto *spin = qobject_cast<QSpinBox *>(field))
            connect(spin, &QSpinBox::textChanged, this, changed);
        else if (auto *spin = qobject_cast<QDoubleSpinBox *>(field))
            connect(spin, &QDoubleSpinBox::textChanged, this, changed);
        else if (auto *list = qobject_cast<QComboBox *>(field))
            connect(list, QOverload<int>::of(&QComboBox::currentIndexChanged), this, changed);
    }
    flaggedFields.insert(field, {deviceText, fieldText(field)});
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, kFlaggedBase);
    // A list that cannot be typed into draws its face as a button.
    palette.setColor(QPalette::Button, kFlaggedBase);
    field->setPalette(palette);
    field->setToolTip(tr("В устройстве %1; поле не может показать это значение").arg(deviceText));
}

void MainWindow::writeField(QWidget *field, const std::function<void()> &write)
{
    if (!flaggedFields.contains(field)) {
        write();
        return;
    }
    auto *question = new QMessageBox(
        QMessageBox::Warning, tr("Запись параметра"),
        tr("%1: в устройстве %2, поле показывает %3.\nЗаписать в устройство %3?")
            .arg(fieldName(field), flaggedFields.value(field).held, fieldText(field)),
        QMessageBox::Yes | QMessageBox::No, this);
    question->setObjectName(QStringLiteral("messageBox_writeFlaggedField"));
    question->setDefaultButton(QMessageBox::No);
    question->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<QWidget> target = field;
    connect(question, &QMessageBox::finished, this, [this, target](int result) {
        if (!target)
            return;
        if (result != QMessageBox::Yes) {
            _appendLog(tr("%1: не записано").arg(fieldName(target)));
            return;
        }
        setFieldFlag(target, QString());
        writeConfirmed(target);
    });
    question->open();
}

// A value written over one the user was warned about is read back at once,
// and the main log says what went out and what the device now holds.
void MainWindow::writeConfirmed(QWidget *field)
{
    const DeviceParameters::Parameter *parameter = nullptr;
    for (const Field &entry : kFields)
        if (field->objectName() == QLatin1String(entry.box))
            parameter = DeviceParameters::find(QString::fromLatin1(entry.key));
    if (!parameter)
        return;
    const bool isFloat = parameter->kind == DeviceParameters::Kind::Float;
    const double value = fieldValue(field);
    const quint64 ticket = serialTop->writeParameters({{parameter, value}});
    const QString name = fieldName(field);
    auto *waiting = new QObject(this);
    connect(serialTop, &SerialTop::parametersWritten, waiting,
            [this, waiting, ticket, name, isFloat, value](quint64 done, const ParameterReport &report) {
                if (done != ticket)
                    return;
                waiting->deleteLater();
                const QString written = localNumber(value, isFloat);
                if (!report.done.isEmpty()) {
                    _appendLog(tr("%1: записано %2, прочитано %3")
                                   .arg(name, written, localNumber(report.done.first().value, isFloat)));
                } else if (!report.failed.isEmpty()
                           && report.failed.first().outcome.failure == RequestOutcome::Failure::NotConfirmed) {
                    _appendLog(tr("%1: записано %2, прочитано %3 — устройство не приняло значение")
                                   .arg(name, written, localNumber(report.failed.first().outcome.readBack, isFloat)));
                } else {
                    _appendLog(tr("%1: записано %2, не прочитано (%3)")
                                   .arg(name, written, SerialTop::describe(report.stop)));
                }
            });
}

// Everything the settings and debug tabs show, one parameter at a time and
// on past any the unit refuses (an older firmware lacks some); the values
// reach the fields through the device object's reports.
void MainWindow::readAllFields()
{
    QVector<const DeviceParameters::Parameter *> parameters;
    for (const DeviceParameters::Parameter &parameter : DeviceParameters::all())
        parameters << &parameter;
    serialTop->readParameters(parameters, false);
}

// The settings and debug pages place their boxes at fixed positions sized
// for a small font. With a larger system font the boxes would clip their
// contents (the modulation buttons vanish entirely), so each box grows to
// what its layout needs, and the box to the right of the configuration box
// moves along; nothing shrinks below its designed size.
void MainWindow::fitFixedPages()
{
    // Size hints are final only once the style has polished the widgets.
    ensurePolished();
    // A combo box capped below its longest item cuts that item's text.
    for (QComboBox *box : ui->tabWidget->findChildren<QComboBox *>())
        box->setMaximumWidth(qMax(box->maximumWidth(), box->sizeHint().width()));
    // A box's own hints add its frame and title to what its layout needs.
    auto grow = [](QWidget *box) {
        box->resize(box->size().expandedTo(QSize(box->sizeHint().width(), box->minimumSizeHint().height())));
    };
    grow(ui->groupBox_3);
    grow(ui->widget);
    const int right = ui->groupBox_3->geometry().right() + 6;
    if (ui->widget->x() < right)
        ui->widget->move(right, ui->widget->y());

    // The debug box needs more height than its page offers at a large font.
    // Squeezed rows would cut their texts, so the page scrolls instead; the
    // box keeps its designed place and takes the size its rows ask for.
    QWidget *debugBox = ui->groupBox_4;
    debugBox->setMinimumSize(debugBox->size().expandedTo(debugBox->minimumSizeHint()));
    auto *content = new QWidget;
    auto *placement = new QVBoxLayout(content);
    placement->setContentsMargins(debugBox->x(), debugBox->y(), 0, 0);
    placement->addWidget(debugBox, 0, Qt::AlignLeft | Qt::AlignTop);
    placement->addStretch();
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    // The page's height is what the window leaves it, not what its rows ask.
    scroll->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    // The tab's own background shows through, as on the other pages.
    scroll->viewport()->setAutoFillBackground(false);
    auto *page = new QVBoxLayout(ui->tab_debug);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(scroll);
}

// A list left without a current item (the device reported a value it does
// not offer) gives index -1, which would reach the device as 65535: refuse it.
void MainWindow::writeChoice(QComboBox *list, const QString &unchosen, const std::function<void(int)> &write)
{
    if (list->currentIndex() < 0) {
        _appendLog(unchosen);
        return;
    }
    writeField(list, [list, write] { write(list->currentIndex()); });
}

void MainWindow::_changeProtType()
{
    writeChoice(ui->comboBox_ProtTypeList, tr("Тип протокола не выбран в списке: в устройство ничего не записано"),
                [this](int type) { serialTop->setProtType(type); });
}

void MainWindow::_changeFmcwBand()
{
    writeField(ui->spinBox_FmcwBand, [this] { serialTop->setFmcwBandGHz(ui->spinBox_FmcwBand->value()); });
}

void MainWindow::_changeFreqRed()
{
    writeChoice(ui->comboBox_ReductionTxPowerList,
                tr("Снижение мощности не выбрано в списке: в устройство ничего не записано"),
                [this](int step) { serialTop->setFreqRed(step); });
}

void MainWindow::_changeSizeLockData()
{
    writeField(ui->spinBox_SizeLockData, [this] { serialTop->setSizeLockData(ui->spinBox_SizeLockData->value()); });
}

void MainWindow::_changeDetThCoefMax()
{
    writeField(ui->doubleSpinBox_DetThCoefMax, [this] { serialTop->setDetThCoefMax(float(ui->doubleSpinBox_DetThCoefMax->value())); });
}

void MainWindow::_changeDetThCoefMin()
{
    writeField(ui->doubleSpinBox_DetThCoefMin, [this] { serialTop->setDetThCoefMin(float(ui->doubleSpinBox_DetThCoefMin->value())); });
}

void MainWindow::_changeDetThCoefDC()
{
    writeField(ui->doubleSpinBox_DetThCoefDC, [this] { serialTop->setDetThCoefDC(float(ui->doubleSpinBox_DetThCoefDC->value())); });
}

void MainWindow::_changeDetSmthCoef()
{
    writeField(ui->doubleSpinBox_DetSmthCoef, [this] { serialTop->setDetSmthCoef(float(ui->doubleSpinBox_DetSmthCoef->value())); });
}

void MainWindow::_changeDetMtiCoef()
{
    writeField(ui->doubleSpinBox_DetMtiCoef, [this] { serialTop->setDetMtiCoef(float(ui->doubleSpinBox_DetMtiCoef->value())); });
}

void MainWindow::_changeTrsSmthCoef()
{
    writeField(ui->doubleSpinBox_TrsSmthCoef, [this] { serialTop->setTrsSmthCoef(float(ui->doubleSpinBox_TrsSmthCoef->value())); });
}

void MainWindow::_changeAdrMb()
{
    writeField(ui->spinBox_mbAdr, [this] { serialTop->setAdrMb(ui->spinBox_mbAdr->value()); });
}

void MainWindow::_changeAdrMbDbg()
{
    writeField(ui->spinBox_AdrMbDbg, [this] { serialTop->setAdrMb(ui->spinBox_AdrMbDbg->value()); });
}
