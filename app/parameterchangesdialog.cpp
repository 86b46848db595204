#include "parameterchangesdialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
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
        // Named as on the tabs, with the key the file and the command line use.
        const QString key = QLatin1String(wanted.parameter->name);
        const QString name = DeviceParameters::label(*wanted.parameter);
        const QStringList cells = {name.isEmpty() ? key : QStringLiteral("%1 (%2)").arg(name, key), now,
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
    table->resizeRowsToContents();
    table->horizontalHeader()->setStretchLastSection(true);
    // Every row in view at the dialog's own size: eleven rows need no scrolling.
    const int frame = 2 * table->frameWidth();
    table->setMinimumHeight(table->verticalHeader()->length() + table->horizontalHeader()->sizeHint().height() + frame);
    table->setMinimumWidth(table->horizontalHeader()->length() + frame);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    const QString revision = backup.revision.isEmpty() ? tr("не указана") : backup.revision;
    QString summary = tr("Файл: %1\nВерсия ПО: %2, сохранён: %3\nИзменится параметров: %4 из %5")
                          .arg(path, revision, backup.saved)
                          .arg(changed)
                          .arg(backup.values.size());
    if (changed == 0)
        summary += QLatin1Char('\n') + tr("Устройство уже хранит значения файла: записывать нечего.");
    auto *about = new QLabel(summary, this);
    about->setObjectName(QStringLiteral("label_parameterChanges"));
    about->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Записать"));
    buttons->button(QDialogButtonBox::Cancel)->setText(changed == 0 ? tr("Закрыть") : tr("Отмена"));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(changed > 0);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(about);
    layout->addWidget(table);
    layout->addWidget(buttons);
    resize(sizeHint().expandedTo(QSize(460, 0)));
}

void ParameterChangesDialog::showOutcome(QWidget *parent, int count, const QStringList &problems,
                                         const std::function<void()> &saveToRom)
{
    const QString text =
        problems.isEmpty()
            ? tr("Параметры записаны и проверены: %1.").arg(count)
            : tr("Параметры записаны с ошибками: не подтверждено %1 из %2.\n%3")
                  .arg(problems.size())
                  .arg(count)
                  .arg(problems.join(QLatin1Char('\n')));
    auto *box = new QMessageBox(problems.isEmpty() ? QMessageBox::Information : QMessageBox::Warning,
                                tr("Загрузка параметров"),
                                text + QStringLiteral("\n\n") +
                                    tr("Записанные значения действуют до выключения питания. Сохранить их в ПЗУ "
                                       "устройства?"),
                                QMessageBox::NoButton, parent);
    box->setObjectName(QStringLiteral("messageBox_restoreOutcome"));
    QPushButton *save = box->addButton(tr("Сохранить в ПЗУ"), QMessageBox::AcceptRole);
    QPushButton *leave = box->addButton(tr("Не сохранять"), QMessageBox::RejectRole);
    box->setDefaultButton(problems.isEmpty() ? save : leave);
    box->setEscapeButton(leave);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, save, saveToRom] {
        if (box->clickedButton() == save)
            saveToRom();
    });
    box->open();
}
