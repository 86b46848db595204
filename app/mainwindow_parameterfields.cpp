// The settings and debug fields, linked through the parameter table: a
// field (a number box or a list) whose dynamic property "parameter" names a
// row of the table shows that parameter; a button whose "writesParameter"
// names it writes the nearest such field and reads it back, one whose
// "readsParameter" names it reads it, and one with "readOrder" reads every
// linked parameter, those it lists first and in that order. Every linked
// parameter is read after a connect. A new parameter needs its table row and
// its widgets in the form, nothing more.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "parameterreport.h"
#include "serialtop.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>

#include <cstdio>

using DeviceParameters::Parameter;

namespace {

// The parameter a widget's property names, or nullptr; a name the table
// does not know is the form's mistake and said so on stderr.
const Parameter *named(const QObject *widget, const char *property)
{
    const QString name = widget->property(property).toString();
    if (name.isEmpty())
        return nullptr;
    const Parameter *parameter = DeviceParameters::find(name);
    if (!parameter)
        std::fprintf(stderr, "Form widget %s names no parameter '%s'\n", qPrintable(widget->objectName()),
                     qPrintable(name));
    return parameter;
}

} // namespace

const Parameter *MainWindow::parameterOf(const QWidget *field)
{
    return DeviceParameters::find(field->property("parameter").toString());
}

// Runs once from the constructor, so that reports find their fields from
// the start, and once more from the event loop, for fields whoever made the
// window has added since; a widget is linked once.
void MainWindow::linkTableFields()
{
    for (QWidget *field : findChildren<QWidget *>()) {
        if (linkedToTable.contains(field))
            continue;
        const Parameter *parameter = named(field, "parameter");
        if (!parameter)
            continue;
        if (!qobject_cast<QComboBox *>(field) && !qobject_cast<QAbstractSpinBox *>(field)) {
            std::fprintf(stderr, "Form field %s is neither a list nor a number box\n", qPrintable(field->objectName()));
            continue;
        }
        linkedToTable.insert(field);
        tableFields[parameter].append(field);
    }
    for (QAbstractButton *button : findChildren<QAbstractButton *>()) {
        if (linkedToTable.contains(button))
            continue;
        linkedToTable.insert(button);
        if (const Parameter *parameter = named(button, "writesParameter")) {
            connect(button, &QAbstractButton::clicked, this, [this, button, parameter] {
                if (QWidget *field = nearestField(button, parameter))
                    writeField(field);
            });
        }
        if (const Parameter *parameter = named(button, "readsParameter"))
            connect(button, &QAbstractButton::clicked, this, [this, parameter] {
                serialTop->readParameters({parameter}, false);
            });
        const QStringList order = button->property("readOrder").toStringList();
        if (!order.isEmpty())
            connect(button, &QAbstractButton::clicked, this, [this, order] { readTableFields(order); });
    }
}

// In table order.
QVector<const Parameter *> MainWindow::linkedParameters() const
{
    QVector<const Parameter *> parameters;
    for (const Parameter &parameter : DeviceParameters::all())
        if (tableFields.contains(&parameter))
            parameters << &parameter;
    return parameters;
}

// The field a button writes: of its parameter's fields, the one nearest to
// it in the window (the settings and the debug tab each have a protocol list
// and an address box, each with a button of its own).
QWidget *MainWindow::nearestField(const QWidget *button, const Parameter *parameter) const
{
    const QVector<QPointer<QWidget>> fields = tableFields.value(parameter);
    for (const QWidget *around = button->parentWidget(); around; around = around->parentWidget())
        for (const QPointer<QWidget> &field : fields)
            if (field && around->isAncestorOf(field))
                return field;
    return nullptr;
}

// One parameter at a time and on past any the unit refuses (an older
// firmware lacks some); the values reach the fields as reports.
void MainWindow::readTableFields(const QStringList &first)
{
    QVector<const Parameter *> parameters;
    for (const QString &name : first) {
        const Parameter *parameter = DeviceParameters::find(name);
        if (parameter && tableFields.contains(parameter) && !parameters.contains(parameter))
            parameters << parameter;
    }
    for (const Parameter *parameter : linkedParameters())
        if (!parameters.contains(parameter))
            parameters << parameter;
    if (!parameters.isEmpty())
        serialTop->readParameters(parameters, false);
}

// Every value read from the unit, whoever asked for it, reaches every field
// of its parameter, on every tab, removed or not.
void MainWindow::showParameter(const DeviceParameters::ParameterValue &reported)
{
    for (const QPointer<QWidget> &field : tableFields.value(reported.parameter)) {
        if (auto *list = qobject_cast<QComboBox *>(field))
            showReportedChoice(list, int(reported.value));
        else if (auto *box = qobject_cast<QAbstractSpinBox *>(field))
            showReported(box, reported.value);
    }
}

void MainWindow::reportFieldWrite(quint64 ticket, const ParameterReport &report)
{
    if (!fieldTickets.remove(ticket))
        return; // another caller's operation
    for (const QString &problem : unconfirmedValues(report))
        _appendLog(tr("Не подтверждено: %1").arg(problem));
}
