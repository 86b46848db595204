#pragma once

#include "linemonitor.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QString>

#include <deque>

// The frames of the line monitor, oldest first, as the window words them.
// Keeps the last kFrameLimit frames; older ones drop off the top.
class LineFrameModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Time, Direction, Bytes, Meaning, RoundTrip, Status, ColumnCount };
    static constexpr int kFrameLimit = 50000;
    // A cell shows this many bytes at most: laying out a firmware block's
    // 800 hex characters on every repaint stalled the window. The tooltip
    // and the saved CSV carry them all.
    static constexpr int kBytesInCell = 24;
    // Role under which a row tells whether it is measurement polling.
    static constexpr int PollingRole = Qt::UserRole + 1;

    explicit LineFrameModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const LineFrame &frame(int row) const { return frames.at(static_cast<size_t>(row)); }

    // Times are shown from the first connect on the monitor's clock; a
    // later connect keeps that origin, so the times of the frames kept
    // from before it never read negative and the column never runs back.
    void setOrigin(double timeMs)
    {
        if (!hasOrigin) {
            originMs = timeMs;
            hasOrigin = true;
        }
    }

    // The window's words for a frame, its status and its direction.
    static QString meaning(const LineFrame &frame);
    static QString status(const LineFrame &frame);
    static QString direction(const LineFrame &frame);
    static bool isFailure(const LineFrame &frame);
    static QString coilName(uint16_t coil);
    QString timeText(const LineFrame &frame) const;
    static QString roundTripText(const LineFrame &frame);
    static QString bytesInCell(const LineFrame &frame);

    // Paused, the table stands still: new frames are held, not lost, and
    // join the table on resuming.
    void setPaused(bool paused);

public slots:
    void append(const QVector<LineFrame> &batch);
    void clear();

private:
    std::deque<LineFrame> frames;
    QVector<LineFrame> held;
    bool paused = false;
    double originMs = 0;
    bool hasOrigin = false;
    // Looked up once: asking the font database on every paint costs a
    // fontconfig query per cell.
    QFont bytesFont;
};
