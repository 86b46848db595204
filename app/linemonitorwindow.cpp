#include "linemonitorwindow.h"
#include "csvfield.h"

#include "frametext.h"
#include "lineframemodel.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <utility>

namespace {

// Hides the measurement's polling when asked; every other frame stays.
class PollingFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setHidePolling(bool hide)
    {
        hidePolling = hide;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &) const override
    {
        if (!hidePolling)
            return true;
        return !static_cast<const LineFrameModel *>(sourceModel())->frame(row).isPolling();
    }

private:
    bool hidePolling = false;
};

} // namespace

LineMonitorWindow::LineMonitorWindow(LineFrameModel *model, PathChooser chooser, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , frames(model)
    , choosePath(std::move(chooser))
{
    setObjectName(QStringLiteral("lineMonitorWindow"));
    setWindowTitle(tr("Монитор линии"));
    resize(1150, 500);

    auto *filter = new PollingFilter(this);
    filter->setSourceModel(model);
    shown = filter;

    table = new QTableView(this);
    table->setObjectName(QStringLiteral("tableView_frames"));
    table->setModel(shown);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    // Fixed row heights and column widths: the view never measures 50 000 rows.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    table->horizontalHeader()->setStretchLastSection(false);
    // Wide enough for the cells, and for the header in any language.
    const std::pair<int, int> widths[] = {{LineFrameModel::Time, 100},
                                          {LineFrameModel::Direction, 125},
                                          {LineFrameModel::Bytes, 240},
                                          {LineFrameModel::RoundTrip, 80},
                                          {LineFrameModel::Status, 105}};
    for (const auto &[column, width] : widths)
        table->setColumnWidth(column, qMax(width, table->horizontalHeader()->sectionSizeHint(column)));
    table->horizontalHeader()->setSectionResizeMode(LineFrameModel::Meaning, QHeaderView::Stretch);

    hidePolling = new QCheckBox(tr("Скрыть опрос измерения"), this);
    hidePolling->setObjectName(QStringLiteral("checkBox_hidePolling"));
    pauseButton = new QPushButton(tr("Пауза"), this);
    pauseButton->setObjectName(QStringLiteral("pushButton_pause"));
    pauseButton->setCheckable(true);
    auto *clearButton = new QPushButton(tr("Очистить"), this);
    clearButton->setObjectName(QStringLiteral("pushButton_clear"));
    auto *saveButton = new QPushButton(tr("Сохранить CSV…"), this);
    saveButton->setObjectName(QStringLiteral("pushButton_saveCsv"));
    countLabel = new QLabel(this);
    countLabel->setObjectName(QStringLiteral("label_frameCount"));

    auto *controls = new QHBoxLayout;
    controls->addWidget(hidePolling);
    controls->addWidget(pauseButton);
    controls->addWidget(clearButton);
    controls->addWidget(saveButton);
    controls->addStretch();
    controls->addWidget(countLabel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(table);

    connect(hidePolling, &QCheckBox::toggled, this, [this, filter](bool hide) {
        filter->setHidePolling(hide);
        updateCount();
        if (followEnd)
            table->scrollToBottom();
    });
    connect(pauseButton, &QPushButton::toggled, this, &LineMonitorWindow::setPaused);
    connect(clearButton, &QPushButton::clicked, frames, &LineFrameModel::clear);
    connect(saveButton, &QPushButton::clicked, this, &LineMonitorWindow::saveAs);

    // Followed while the view stands at its end; a user who scrolled up to
    // read keeps his place.
    QScrollBar *bar = table->verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { followEnd = value == bar->maximum(); });
    connect(shown, &QAbstractItemModel::rowsInserted, this, [this] {
        if (followEnd)
            table->scrollToBottom();
        updateCount();
    });
    connect(shown, &QAbstractItemModel::rowsRemoved, this, &LineMonitorWindow::updateCount);
    connect(shown, &QAbstractItemModel::modelReset, this, &LineMonitorWindow::updateCount);
    updateCount();
}


// The children go after this destructor has run: the view's scroll bar and
// the filter still signal while they are torn down, and must not reach a
// window that is no longer one.
LineMonitorWindow::~LineMonitorWindow()
{
    disconnect(table->verticalScrollBar(), nullptr, this, nullptr);
    disconnect(shown, nullptr, this, nullptr);
}

void LineMonitorWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Opened after the frames came, it starts where they end.
    if (followEnd)
        table->scrollToBottom();
}

void LineMonitorWindow::setPaused(bool paused)
{
    frames->setPaused(paused);
    pauseButton->setText(paused ? tr("Продолжить") : tr("Пауза"));
}

void LineMonitorWindow::updateCount()
{
    countLabel->setText(tr("Кадров: %1 из %2").arg(shown->rowCount()).arg(frames->rowCount()));
}

void LineMonitorWindow::saveAs()
{
    const QString path = choosePath ? choosePath() : QString();
    if (path.isEmpty())
        return;
    QString error;
    if (saveCsv(path, error))
        emit message(tr("Кадры линии сохранены в %1").arg(path));
    else
        emit message(tr("Кадры линии не сохранены: %1: %2").arg(path, error));
}

bool LineMonitorWindow::saveCsv(const QString &path, QString &error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    QString text = QStringLiteral("time_ms;direction;bytes;meaning;round_trip_ms;status\n");
    for (int row = 0; row < shown->rowCount(); ++row) {
        const LineFrame &f = frames->frame(shown->mapToSource(shown->index(row, 0)).row());
        text += QStringList{frames->timeText(f), LineFrameModel::direction(f), FrameText::hex(f.bytes),
                            csvField(LineFrameModel::meaning(f)), LineFrameModel::roundTripText(f),
                            csvField(LineFrameModel::status(f))}
                    .join(QLatin1Char(';'));
        text += QLatin1Char('\n');
    }
    if (file.write(text.toUtf8()) < 0 || !file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}
