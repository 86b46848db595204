// Fields for parameters of the table that the form's own wiring does not
// cover: a spin box whose dynamic property "parameter" names a row of the
// parameter table shows it, and a button whose "writesParameter" names it
// writes the box's value and reads it back. Such fields are read with
// "read all" and after every connect, through the device object's
// parameter operations, so a new parameter needs its table row and its
// widgets in the form, nothing more.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "serialtop.h"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QSpinBox>

#include <cstdio>

using DeviceParameters::Parameter;

void MainWindow::linkTableFields()
{
    for (QAbstractSpinBox *box : findChildren<QAbstractSpinBox *>()) {
        const QString name = box->property("parameter").toString();
        if (name.isEmpty())
            continue;
        if (const Parameter *parameter = DeviceParameters::find(name))
            tableFields.insert(parameter, box);
        else
            std::fprintf(stderr, "Form field %s names no parameter '%s'\n", qPrintable(box->objectName()), qPrintable(name));
    }
    for (QAbstractButton *button : findChildren<QAbstractButton *>()) {
        const Parameter *parameter = DeviceParameters::find(button->property("writesParameter").toString());
        if (parameter && tableFields.contains(parameter))
            connect(button, &QAbstractButton::clicked, this, [this, parameter] { writeTableField(*parameter); });
    }
    if (tableFields.isEmpty())
        return;
    connect(ui->pushButton_getAllSettings, &QAbstractButton::clicked, this, &MainWindow::readTableFields);
    connect(serialTop, &SerialTop::connectedChanged, this, [this](bool connected) {
        if (connected)
            readTableFields();
    });
    connect(serialTop, &SerialTop::parametersRead, this, &MainWindow::showTableFields);
    connect(serialTop, &SerialTop::parametersWritten, this, &MainWindow::showTableFields);
}

void MainWindow::readTableFields()
{
    QVector<const Parameter *> parameters;
    for (auto it = tableFields.cbegin(); it != tableFields.cend(); ++it)
        parameters << it.key();
    fieldTickets.insert(serialTop->readParameters(parameters, false));
}

void MainWindow::writeTableField(const Parameter &parameter)
{
    QAbstractSpinBox *box = tableFields.value(&parameter);
    double value = 0;
    if (auto *real = qobject_cast<QDoubleSpinBox *>(box))
        value = real->value();
    else if (auto *whole = qobject_cast<QSpinBox *>(box))
        value = whole->value();
    fieldTickets.insert(serialTop->writeParameters({{&parameter, value}}));
}

void MainWindow::showTableFields(quint64 ticket, const ParameterReport &report)
{
    if (!fieldTickets.remove(ticket))
        return; // another caller's operation
    for (const DeviceParameters::ParameterValue &entry : report.done) {
        QAbstractSpinBox *box = tableFields.value(entry.parameter);
        if (auto *real = qobject_cast<QDoubleSpinBox *>(box))
            real->setValue(entry.value);
        else if (auto *whole = qobject_cast<QSpinBox *>(box))
            whole->setValue(int(entry.value));
    }
    for (const QString &problem : unconfirmedValues(report))
        _appendLog(tr("Не подтверждено: %1").arg(problem));
}
