#include "parameterchangesdialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using DeviceParameters::ParameterValue;

ParameterChangesDialog::ParameterChangesDialog(const QString &path, const DeviceParameters::Backup &backup,
                                               const DeviceParameters::ParameterValues &current, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("parameterChangesDialog"));
    setWindowTitle(tr("Загрузка параметров"));

    table = new QTableWidget(backup.values.size(), 3, this);
    table->setObjectName(QStringLiteral("tableWidget_parameterChanges"));
    table->setHorizontalHeaderLabels({tr("Параметр"), tr("В устройстве"), tr("В файле")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    for (int row = 0; row < backup.values.size(); ++row) {
        const ParameterValue &wanted = backup.values.at(row);
        QString now = QStringLiteral("—");
        bool differs = true;
        for (const ParameterValue &entry : current)
            if (entry.parameter == wanted.parameter) {
                now = DeviceParameters::formatValue(*entry.parameter, entry.value);
                differs = entry.value != wanted.value;
            }
        const QStringList cells = {QLatin1String(wanted.parameter->name), now,
                                   DeviceParameters::formatValue(*wanted.parameter, wanted.value)};
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            QFont font = item->font();
            font.setBold(differs);
            item->setFont(font);
            table->setItem(row, column, item);
        }
        changed += differs ? 1 : 0;
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);

    const QString revision = backup.revision.isEmpty() ? tr("не указана") : backup.revision;
    auto *about = new QLabel(tr("Файл: %1\nВерсия ПО: %2, сохранён: %3\nИзменится параметров: %4 из %5")
                                 .arg(path, revision, backup.saved)
                                 .arg(changed)
                                 .arg(backup.values.size()),
                             this);
    about->setObjectName(QStringLiteral("label_parameterChanges"));
    about->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Записать"));
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(about);
    layout->addWidget(table);
    layout->addWidget(buttons);
    resize(460, 420);
}
