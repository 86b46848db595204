// Settings and debug fields: a reported value shown as well as the field
// can, and flagged where it cannot; ✓ on a flagged field asks first. Which
// field shows and writes which parameter: mainwindow_parameterfields.cpp.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "deviceparameters.h"
#include "parameterreport.h"
#include "serialtop.h"

#include <QComboBox>
#include <QLayout>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace {

const QColor kFlaggedBase(255, 214, 214);

// A number as the window shows numbers: the language's decimal mark.
QString localNumber(double value, bool isFloat)
{
    QString text = isFloat ? DeviceParameters::shortestText(float(value)) : QString::number(value, 'g', 10);
    return text.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

} // namespace

QString MainWindow::fieldText(const QWidget *field)
{
    if (const auto *list = qobject_cast<const QComboBox *>(field))
        return list->currentText();
    if (const auto *box = qobject_cast<const QAbstractSpinBox *>(field))
        return box->text();
    return QString();
}

double MainWindow::fieldValue(const QWidget *field)
{
    if (const auto *list = qobject_cast<const QComboBox *>(field))
        return list->currentIndex();
    if (const auto *spin = qobject_cast<const QSpinBox *>(field))
        return spin->value();
    if (const auto *spin = qobject_cast<const QDoubleSpinBox *>(field))
        return float(spin->value());
    return 0;
}

QString MainWindow::fieldName(const QWidget *field) const
{
    if (const DeviceParameters::Parameter *parameter = parameterOf(field))
        return QStringLiteral("%1 (%2)").arg(DeviceParameters::label(*parameter), QLatin1String(parameter->name));
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

// ✓ of a field: what it shows goes to the unit and is read back; the log
// names what the unit did not take.
void MainWindow::writeField(QWidget *field)
{
    const DeviceParameters::Parameter *parameter = parameterOf(field);
    if (!parameter)
        return;
    // A list left without a current item (the unit reported a code it does
    // not offer) gives index -1, which would reach the unit as 65535.
    const auto *list = qobject_cast<const QComboBox *>(field);
    if (list && list->currentIndex() < 0) {
        const QString unchosen = field->property("unchosenText").toString();
        _appendLog(unchosen.isEmpty()
                       ? tr("%1: в списке ничего не выбрано, в устройство ничего не записано").arg(fieldName(field))
                       : unchosen);
        return;
    }
    if (!flaggedFields.contains(field)) {
        fieldTickets.insert(serialTop->writeParameters({{parameter, fieldValue(field)}}));
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
    const DeviceParameters::Parameter *parameter = parameterOf(field);
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
