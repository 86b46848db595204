#pragma once

#include <QWidget>

#include <functional>

class LineFrameModel;
class QCheckBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

// "Монитор линии": the frames of the line in a table beside the main
// window, newest at the bottom and followed while the view is at its end.
// The frames themselves live in the model, which the main window feeds
// whether this window is open or not.
class LineMonitorWindow : public QWidget
{
    Q_OBJECT
public:
    // Asks for the CSV file to write; empty when the user cancelled.
    using PathChooser = std::function<QString()>;

    LineMonitorWindow(LineFrameModel *model, PathChooser chooser, QWidget *parent = nullptr);
    ~LineMonitorWindow() override;

    // The frames the table shows (polling hidden or not), as CSV with ';'
    // between fields; the file is replaced only once it is whole.
    bool saveCsv(const QString &path, QString &error) const;

protected:
    void showEvent(QShowEvent *event) override;

signals:
    // What became of a save, for the main log.
    void message(QString text);

private:
    void setPaused(bool paused);
    void saveAs();
    void updateCount();

    LineFrameModel *frames;
    QSortFilterProxyModel *shown;
    PathChooser choosePath;
    QTableView *table;
    QCheckBox *hidePolling;
    QPushButton *pauseButton;
    QLabel *countLabel;
    bool followEnd = true;
};
