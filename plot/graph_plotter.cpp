#include "graph_plotter.h"

#include "axisstyle.h"

#include <qcustomplot.h>

#include <QDateTime>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <limits>

const std::array<QColor, 32> kGraphPalette = {
    QColor(0, 0, 0),       QColor(0, 0, 255),     QColor(255, 0, 255),   QColor(84, 84, 84),
    QColor(0, 128, 0),     QColor(0, 255, 0),     QColor(128, 0, 0),     QColor(0, 0, 128),
    QColor(128, 128, 0),   QColor(128, 0, 128),   QColor(255, 0, 0),     QColor(192, 192, 192),
    QColor(0, 128, 128),   QColor(255, 255, 0),   QColor(0, 255, 255),   QColor(153, 149, 140),
    QColor(255, 128, 0),   QColor(16, 28, 112),   QColor(80, 140, 70),   QColor(120, 110, 110),
    QColor(0, 0, 0),       QColor(0, 0, 255),     QColor(255, 0, 255),   QColor(84, 84, 84),
    QColor(0, 128, 0),     QColor(0, 255, 0),     QColor(128, 0, 0),     QColor(0, 0, 128),
    QColor(128, 128, 0),   QColor(128, 0, 128),   QColor(0, 0, 0),       QColor(0, 0, 255),
};

namespace {

constexpr int kTickCount = 9;
constexpr int kSubTickCount = 9;
constexpr int kAxisPadding = 10;

QSharedPointer<QCPAxisTicker> autoTicker()
{
    QSharedPointer<QCPAxisTicker> ticker(new QCPAxisTicker);
    ticker->setTickCount(kTickCount);
    return ticker;
}

void followRange(QCPAxis *from, QCPAxis *to)
{
    QObject::connect(from, QOverload<const QCPRange &>::of(&QCPAxis::rangeChanged),
                     to, QOverload<const QCPRange &>::of(&QCPAxis::setRange));
}

void selectWhole(QCPGraph *graph)
{
    graph->setSelection(QCPDataSelection(graph->data()->dataRange()));
}

const QCPAxis::SelectableParts kAllAxisParts =
    QCPAxis::spAxis | QCPAxis::spTickLabels | QCPAxis::spAxisLabel;

} // namespace

graph_plotter::graph_plotter() = default;

graph_plotter::~graph_plotter() = default;

void graph_plotter::setPlot(QCustomPlot *newPlot)
{
    // The axes and curves are added to the plot, so building them twice
    // would leave 64 orphaned axes on it.
    if (!newPlot || plot)
        return;
    autoscale = false;
    plot = newPlot;
    startTimeMs = QDateTime::currentMSecsSinceEpoch();

    for (QCPAxis *axis : {plot->xAxis, plot->xAxis2, plot->yAxis, plot->yAxis2})
        setupFrameAxis(axis);
    followRange(plot->xAxis, plot->xAxis2);
    followRange(plot->yAxis, plot->yAxis2);

    QCPAxisRect *rect = plot->axisRect(0);
    keyAxisPtr = rect->addAxis(QCPAxis::atBottom);
    setupKeyAxis(keyAxisPtr);
    followRange(keyAxisPtr, plot->xAxis);
    emit keyAxisPtr->rangeChanged(keyAxisPtr->range());

    for (int i = 0; i < kGraphCount; ++i) {
        keys[i].resize(0);
        values[i].resize(0);

        QCPAxis *axis = rect->addAxis(QCPAxis::atLeft);
        valueAxes[i] = axis;
        axis->setVisible(false);
        axis->setLabelPadding(1);
        setupValueAxis(axis, kGraphPalette[i % kGraphPalette.size()]);

        // Every curve is drawn against value axis 0; the other value axes
        // only carry their curve's autoscale and colour.
        QCPGraph *graph = plot->addGraph(keyAxisPtr, valueAxes[0]);
        graphs[i] = graph;
        graph->setData(keys[i], values[i]);
        graph->setPen(QPen(kGraphPalette[i % kGraphPalette.size()]));
        graph->setVisible(false);

        followRange(axis, plot->yAxis);
    }
    valueAxes[0]->setVisible(true);

    // Until the user selects something, dragging and zooming move nothing.
    rect->setRangeDragAxes(nullptr, nullptr);
    rect->setRangeZoomAxes(nullptr, nullptr);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom | QCP::iSelectPlottables
                          | QCP::iSelectAxes);
    connect(plot, &QCustomPlot::selectionChangedByUser, this, &graph_plotter::_selectionChanged);
}

void graph_plotter::setupFrameAxis(QCPAxis *axis)
{
    axis->setVisible(true);
    axis->setTickLabels(false);
    axis->setTicker(autoTicker());
    axis->setSubTicks(true);
    axis->setRange(0, 10);
    axis->grid()->setPen(QPen(Qt::gray));
    axis->grid()->setSubGridVisible(true);
}

void graph_plotter::setupKeyAxis(QCPAxis *axis)
{
    axis->setPadding(kAxisPadding);
    axis->setRange(0, 128, Qt::AlignLeft);
    axis->setTicker(autoTicker());
    axis->setSubTicks(true);
    axis->setVisible(true);
}

void graph_plotter::setupValueAxis(QCPAxis *axis, const QColor &color)
{
    axis->setPadding(kAxisPadding);
    axis->setRange(0, 100, Qt::AlignLeft);
    // The value axes draw a fixed number of sub-ticks whatever the tick step.
    useFixedSubTicks(axis, kTickCount, kSubTickCount);
    axis->setSubTicks(true);
    axis->setVisible(false);
    paintAxis(axis, color);
}

void graph_plotter::replot()
{
    if (plot)
        plot->replot();
}

void graph_plotter::pushToGraph(int graph)
{
    if (graphs[graph])
        graphs[graph]->setData(keys[graph], values[graph]);
}

void graph_plotter::addPoint(int graph, double x, double y)
{
    // A NaN key has no place on the key axis and breaks the curve's
    // sorting of its points, so such a point is not taken.
    if (!validIndex(graph) || std::isnan(x))
        return;
    keys[graph].append(x);
    values[graph].append(y);
    pushToGraph(graph);
}

void graph_plotter::appendValue(int graph, double y)
{
    if (!validIndex(graph))
        return;
    // The first point of an empty curve sits at x = 0.
    const double x = keys[graph].isEmpty() ? 0.0 : keys[graph].last() + 1.0;
    addPoint(graph, x, y);
}

void graph_plotter::clearGraph(int graph)
{
    if (!validIndex(graph))
        return;
    keys[graph].clear();
    values[graph].clear();
}

void graph_plotter::clearGraphs()
{
    for (int i = 0; i < kGraphCount; ++i) {
        clearGraph(i);
        pushToGraph(i);
    }
    replot();
}

void graph_plotter::setXRange(int size)
{
    if (!keyAxisPtr)
        return;
    keyAxisPtr->setRange(0, size, Qt::AlignLeft);
    replot();
}

float graph_plotter::peakToPeak(int graph) const
{
    return validIndex(graph) ? ppValues[graph] : 0.0f;
}

void graph_plotter::applyColor(int graph, const QColor &color)
{
    if (QCPAxis *axis = valueAxes[graph]) {
        axis->setLabelColor(color);
        axis->setTickLabelColor(color);
        axis->setBasePen(QPen(color));
        axis->setTickPen(QPen(color));
        axis->setSubTickPen(QPen(color));
    }
    if (QCPGraph *curve = graphs[graph]) {
        QPen pen = curve->pen();
        pen.setColor(color);
        curve->setPen(pen);
    }
}

void graph_plotter::setGraphColor(int graph, const QColor &color)
{
    if (!validIndex(graph))
        return;
    applyColor(graph, color);
    replot();
}

void graph_plotter::setAxisLabel(int graph, const QString &label)
{
    if (validIndex(graph) && valueAxes[graph])
        valueAxes[graph]->setLabel(label);
}

QColor graph_plotter::graphColor(int graph) const
{
    if (!validIndex(graph) || !valueAxes[graph])
        return QColor();
    return valueAxes[graph]->labelColor();
}

QVector<double> graph_plotter::graphKeys(int graph) const
{
    return validIndex(graph) ? keys[graph] : QVector<double>();
}

QVector<double> graph_plotter::graphValues(int graph) const
{
    return validIndex(graph) ? values[graph] : QVector<double>();
}

QCPAxis *graph_plotter::keyAxis() const
{
    return keyAxisPtr;
}

QCPAxis *graph_plotter::valueAxis(int graph) const
{
    return validIndex(graph) ? valueAxes[graph].data() : nullptr;
}

void graph_plotter::setAutoscaleEn(bool state)
{
    autoscale = state;
    if (!state || !plot)
        return;
    // Switching on fits the curves already drawn, not only the next read-out.
    bool anyKey = false;
    double firstKey = 0.0;
    double lastKey = 0.0;
    for (int i = 0; i < kGraphCount; ++i) {
        if (keys[i].isEmpty())
            continue;
        const auto [low, high] = std::minmax_element(keys[i].cbegin(), keys[i].cend());
        firstKey = anyKey ? std::min(firstKey, *low) : *low;
        lastKey = anyKey ? std::max(lastKey, *high) : *high;
        anyKey = true;
        GraphReplot(i);
    }
    if (anyKey && keyAxisPtr)
        keyAxisPtr->setRange(firstKey, lastKey - firstKey + 1, Qt::AlignLeft);
    replot();
}

void graph_plotter::SetVisibleGraph(int index, bool visible)
{
    if (!validIndex(index) || !graphs[index])
        return;
    graphs[index]->setVisible(visible);
    replot();
}

void graph_plotter::GraphReplot(int index)
{
    if (!validIndex(index))
        return;
    // The extremes come from the data alone (NaN samples are gaps), so no
    // value is too large or too small to be measured and scaled.
    bool measured = false;
    double min = 0.0;
    double max = 0.0;
    for (double v : values[index]) {
        if (std::isnan(v))
            continue;
        min = measured ? std::min(min, v) : v;
        max = measured ? std::max(max, v) : v;
        measured = true;
    }
    // A curve without data has no peak-to-peak value and leaves the axes be.
    if (!measured) {
        ppValues[index] = std::numeric_limits<float>::quiet_NaN();
        replot();
        return;
    }
    const double range = max - min;
    if (autoscale && valueAxes[index])
        valueAxes[index]->setRange(min - 0.05 * range, 1.1 * range, Qt::AlignLeft);
    replot();
    ppValues[index] = static_cast<float>(range);
}

void graph_plotter::GraphsReplot()
{
    if (!plot || !keyAxisPtr)
        return;
    const double t = (QDateTime::currentMSecsSinceEpoch() - startTimeMs) / 1000.0;
    if (keyAxisPtr->selectedParts().testFlag(QCPAxis::spAxis))
        return;
    if (t - 20 > keyAxisPtr->range().lower)
        keyAxisPtr->setRange(t - 20, 20, Qt::AlignLeft);
    replot();
}

void graph_plotter::markAxisSelected(QCPAxis *axis)
{
    if (!axis || axis->selectedParts() == QCPAxis::spNone)
        return;
    axis->setSelectedParts(kAllAxisParts);
    // Let the frame's grid jump to the scale of the axis just picked.
    emit axis->rangeChanged(axis->range());
}

void graph_plotter::_selectionChanged()
{
    if (!plot)
        return;
    for (QCPAxis *axis : {plot->xAxis, plot->xAxis2, plot->yAxis, plot->yAxis2})
        axis->setSelectedParts(QCPAxis::spNone);

    markAxisSelected(keyAxisPtr);
    for (const QPointer<QCPAxis> &axis : valueAxes)
        markAxisSelected(axis);

    QCPAxisRect *rect = plot->axisRect(0);
    if (keyAxisPtr && keyAxisPtr->selectedParts() != QCPAxis::spNone) {
        rect->setRangeDragAxes(keyAxisPtr, nullptr);
        rect->setRangeZoomAxes(keyAxisPtr, nullptr);
        rect->setRangeDrag(Qt::Horizontal);
        rect->setRangeZoom(Qt::Horizontal);
        return;
    }

    for (int i = 0; i < kGraphCount; ++i) {
        QCPGraph *graph = graphs[i];
        QCPAxis *axis = valueAxes[i];
        if (!graph || !axis)
            continue;
        if (graph->selected() || axis->selectedParts() != QCPAxis::spNone) {
            selectWhole(graph);
            axis->setSelectedParts(kAllAxisParts);
            rect->setRangeDragAxes(nullptr, axis);
            rect->setRangeZoomAxes(nullptr, axis);
            rect->setRangeDrag(Qt::Vertical);
            rect->setRangeZoom(Qt::Vertical);
            return;
        }
    }

    rect->setRangeDragAxes(nullptr, nullptr);
    rect->setRangeZoomAxes(nullptr, nullptr);
}
