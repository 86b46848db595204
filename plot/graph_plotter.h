#pragma once

class QTextStream;

#include <QColor>
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <array>

class QCustomPlot;
class QCPAxis;
class QCPGraph;

// Turns one QCustomPlot into a plot of up to 64 raw-data curves sharing one
// key axis. Samples arrive one at a time without redrawing; the caller asks for
// a redraw once a read-out is complete. The user picks a curve or an axis with
// the mouse, and dragging and wheel zooming then act on that axis only.
//
// Not a widget: created without parent, attached to a plot with setPlot and
// used from the GUI thread only. Curves and axes belong to the plot.
//
// Curve indices outside 0..kGraphCount-1 are ignored by every operation.
class graph_plotter : public QObject
{
    Q_OBJECT
public:
    static constexpr int kGraphCount = 64;

    graph_plotter();
    ~graph_plotter() override;

    void setPlot(QCustomPlot *plot);

    void addPoint(int graph, double x, double y);
    void clearGraphs();
    void setXRange(int size);
    // The span of the curve's data at its last GraphReplot; NaN if it had none.
    float peakToPeak(int graph) const;
    void appendValue(int graph, double y);
    void clearGraph(int graph);
    void setGraphColor(int graph, const QColor &color);
    void setAxisLabel(int graph, const QString &label);
    QColor graphColor(int graph) const;

    // Read access to the master copy of a curve's points, in arrival order.
    QVector<double> graphKeys(int graph) const;
    QVector<double> graphValues(int graph) const;
    // The shared key axis and the value axis of a curve (null before setPlot).
    QCPAxis *keyAxis() const;
    QCPAxis *valueAxis(int graph) const;

    // The all-curves save with a given time stamp; the slot passes the
    // current local time. Returns false if either file was not fully written.
    bool saveGraphsToFile(const QString &header, const QDateTime &stamp);
    // "!!log/yyyy_MM_dd HH_mm_ss" for the stamp, without the suffixes.
    static QString graphsFileStem(const QDateTime &stamp);
    // What went wrong in the last failed save or load, for the caller's log.
    QString fileError() const { return lastFileError; }

signals:
    void appendLog(QString s);

public slots:
    void SetVisibleGraph(int index, bool visible);
    void GraphsReplot();
    void GraphReplot(int index);
    // The file operations return false when a file could not be opened or
    // fully written; the loader also counts the records it had to skip.
    bool on_saveGraphsToFile(QString s_header);
    bool on_saveGraphToFile(int idx);
    bool on_loadGraphsFromFile(QString f_name, int *skippedRecords = nullptr);
    void setAutoscaleEn(bool state);

private slots:
    void _selectionChanged();

private:
    static bool validIndex(int graph) { return graph >= 0 && graph < kGraphCount; }
    void setupFrameAxis(QCPAxis *axis);
    void setupKeyAxis(QCPAxis *axis);
    void setupValueAxis(QCPAxis *axis, const QColor &color);
    void markAxisSelected(QCPAxis *axis);
    void applyColor(int graph, const QColor &color);
    void pushToGraph(int graph);
    void replot();
    bool failFile(const QFile &file);
    bool finishFiles(QTextStream &text, bool textOpen);

    QPointer<QCustomPlot> plot;
    std::array<QPointer<QCPGraph>, kGraphCount> graphs;
    std::array<QPointer<QCPAxis>, kGraphCount> valueAxes;
    QPointer<QCPAxis> keyAxisPtr;
    std::array<QVector<double>, kGraphCount> keys;
    std::array<QVector<double>, kGraphCount> values;
    std::array<float, kGraphCount> ppValues {};
    qint64 startTimeMs = 0;
    QFile textFile;
    QFile binaryFile;
    bool autoscale = false;
    QString lastFileError;
};

// Colour of curve i and of its value axis: entry i mod 32.
extern const std::array<QColor, 32> kGraphPalette;
