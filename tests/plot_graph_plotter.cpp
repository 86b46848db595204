// The raw-data plot as the telemetry tab drives it: scaling, peak-to-peak,
// and what the mouse selects for dragging and zooming.

#include "graph_plotter.h"

#include <qcustomplot.h>

#include <QCheckBox>
#include <QWheelEvent>
#include <QtTest>

#include <climits>
#include <cmath>
#include <memory>

class GraphPlotterTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void setPlotBuildsCurvesOnSharedKeyAndFirstValueAxis();
    void replotMeasuresPeakToPeakAndAutoscalesOnlyWhenEnabled();
    void peakToPeakAndScaleComeFromTheDataAlone();
    void secondCurveIsDrawnOnFirstCurvesScale();
    void clickingCurveOneDragsAndZoomsItsOwnAxisOnly();
    void clickingVisibleValueAxisMovesBothCurves();
    void clickingEmptySpaceReleasesDragAndZoom();
    void selectedKeyAxisZoomsHorizontallyAndStopsScrolling();
    void xRangeAndAppendValue();
    void badIndicesAndMissingPlotAreHarmless();

private:
    QPoint pointOf(int graph, double key, double value) const;
    void click(const QPoint &pos);
    void wheel(const QPoint &pos, int angle);

    std::unique_ptr<QCustomPlot> widget;
    std::unique_ptr<graph_plotter> plotter;
};

void GraphPlotterTest::init()
{
    widget.reset(new QCustomPlot);
    widget->resize(800, 600);
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    plotter.reset(new graph_plotter);
    plotter->setPlot(widget.get());
    // As the telemetry tab does.
    plotter->SetVisibleGraph(0, true);
    plotter->SetVisibleGraph(1, true);
}

void GraphPlotterTest::cleanup()
{
    plotter.reset();
    widget.reset();
}

QPoint GraphPlotterTest::pointOf(int graph, double key, double value) const
{
    return widget->graph(graph)->coordsToPixels(key, value).toPoint();
}

void GraphPlotterTest::click(const QPoint &pos)
{
    QTest::mouseClick(widget.get(), Qt::LeftButton, Qt::NoModifier, pos);
}

void GraphPlotterTest::wheel(const QPoint &pos, int angle)
{
    QWheelEvent event(pos, widget->mapToGlobal(pos), QPoint(), QPoint(0, angle),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget.get(), &event);
}

void GraphPlotterTest::setPlotBuildsCurvesOnSharedKeyAndFirstValueAxis()
{
    QCOMPARE(widget->graphCount(), graph_plotter::kGraphCount);
    QCPAxis *key = plotter->keyAxis();
    QVERIFY(key);
    QCOMPARE(key->range(), QCPRange(0, 128));
    QCOMPARE(widget->xAxis->range(), QCPRange(0, 128)); // frame follows at once
    QVERIFY(!widget->xAxis->tickLabels());
    QCOMPARE(int(widget->interactions()), 0x1B);

    for (int i = 0; i < graph_plotter::kGraphCount; ++i) {
        QCPGraph *graph = widget->graph(i);
        QCOMPARE(graph->keyAxis(), key);
        QCOMPARE(graph->valueAxis(), plotter->valueAxis(0));
        QCOMPARE(graph->visible(), i < 2);
        QCOMPARE(plotter->valueAxis(i)->visible(), i == 0);
        QCOMPARE(plotter->valueAxis(i)->range(), QCPRange(0, 100));
    }
    // Curve 0 black, curve 1 blue; the 32 colours repeat from curve 32 on.
    QCOMPARE(widget->graph(0)->pen().color(), QColor(0, 0, 0));
    QCOMPARE(widget->graph(1)->pen().color(), QColor(0, 0, 255));
    QCOMPARE(plotter->graphColor(17), QColor(16, 28, 112));
    QCOMPARE(plotter->graphColor(31), QColor(0, 0, 255));
    QCOMPARE(widget->graph(49)->pen().color(), QColor(16, 28, 112));

    // Nothing moves until the user picks an axis.
    QCOMPARE(widget->axisRect()->rangeDragAxes(Qt::Vertical).size(), 0);
    QCOMPARE(widget->axisRect()->rangeDragAxes(Qt::Horizontal).size(), 0);

    plotter->setGraphColor(5, Qt::red);
    QCOMPARE(plotter->graphColor(5), QColor(Qt::red));
    QCOMPARE(widget->graph(5)->pen().color(), QColor(Qt::red));
    QCOMPARE(plotter->valueAxis(5)->basePen().color(), QColor(Qt::red));
}

void GraphPlotterTest::replotMeasuresPeakToPeakAndAutoscalesOnlyWhenEnabled()
{
    // The window wires its check box by signature, so the slot must be
    // reachable that way.
    QCheckBox autoscaleBox;
    QVERIFY(QObject::connect(&autoscaleBox, SIGNAL(toggled(bool)), plotter.get(),
                             SLOT(setAutoscaleEn(bool))));

    for (double y : {10.0, 30.0, 20.0})
        plotter->appendValue(0, y);
    plotter->GraphReplot(0);
    QCOMPARE(plotter->peakToPeak(0), 20.0f);
    QCOMPARE(plotter->valueAxis(0)->range(), QCPRange(0, 100));

    // Switching autoscale on refits the curve already drawn, both axes.
    autoscaleBox.setChecked(true);
    QVERIFY(qFuzzyCompare(plotter->valueAxis(0)->range().lower, 9.0));
    QVERIFY(qFuzzyCompare(plotter->valueAxis(0)->range().upper, 31.0));
    QCOMPARE(plotter->keyAxis()->range(), QCPRange(0, 3));
    plotter->GraphReplot(0);
    QCOMPARE(plotter->peakToPeak(0), 20.0f);
    QVERIFY(qFuzzyCompare(plotter->valueAxis(0)->range().lower, 9.0));
    QVERIFY(qFuzzyCompare(plotter->valueAxis(0)->range().upper, 31.0));
    // The frame grid follows the rescaled axis.
    QCOMPARE(widget->yAxis->range(), plotter->valueAxis(0)->range());

    // NaN samples are gaps, not extremes.
    plotter->clearGraphs();
    for (double y : {-4.0, std::nan(""), 6.0})
        plotter->appendValue(0, y);
    plotter->GraphReplot(0);
    QCOMPARE(plotter->peakToPeak(0), 10.0f);

    autoscaleBox.setChecked(false);
    const QCPRange before = plotter->valueAxis(0)->range();
    plotter->addPoint(0, 3, 1000);
    plotter->GraphReplot(0);
    QCOMPARE(plotter->peakToPeak(0), 1004.0f);
    QCOMPARE(plotter->valueAxis(0)->range(), before);
}

void GraphPlotterTest::peakToPeakAndScaleComeFromTheDataAlone()
{
    plotter->setAutoscaleEn(true);
    // Beyond the old starting extremes of plus and minus 1e9.
    for (double y : {-5.0e9, -4.0e9})
        plotter->appendValue(0, y);
    plotter->GraphReplot(0);
    QCOMPARE(plotter->peakToPeak(0), 1.0e9f);
    QVERIFY(qFuzzyCompare(plotter->valueAxis(0)->range().lower, -5.05e9));
    QVERIFY(qFuzzyCompare(plotter->valueAxis(0)->range().upper, -3.95e9));
    plotter->clearGraphs();
    for (double y : {2.0e9, std::nan(""), 3.0e9})
        plotter->appendValue(0, y);
    plotter->GraphReplot(0);
    QCOMPARE(plotter->peakToPeak(0), 1.0e9f);
    const QCPRange scaled = plotter->valueAxis(0)->range();
    QVERIFY(qFuzzyCompare(scaled.lower, 1.95e9));
    QVERIFY(qFuzzyCompare(scaled.upper, 3.05e9));

    // An empty curve has no value and keeps the scale.
    plotter->clearGraphs();
    QCOMPARE(widget->graph(0)->dataCount(), 0);
    plotter->GraphReplot(0);
    QVERIFY(std::isnan(plotter->peakToPeak(0)));
    QCOMPARE(plotter->valueAxis(0)->range(), scaled);
}

void GraphPlotterTest::secondCurveIsDrawnOnFirstCurvesScale()
{
    plotter->setAutoscaleEn(true);
    for (int i = 0; i < 10; ++i) {
        plotter->addPoint(0, i, 100 + i);  // 100 .. 109
        plotter->addPoint(1, i, -50 - i);  // -50 .. -59
    }
    plotter->GraphReplot(0);
    const QCPRange scale0 = plotter->valueAxis(0)->range();
    QVERIFY(qFuzzyCompare(scale0.lower, 99.55));
    QVERIFY(qFuzzyCompare(scale0.upper, 109.45));

    plotter->GraphReplot(1);
    QCOMPARE(plotter->peakToPeak(1), 9.0f);
    QVERIFY(qFuzzyCompare(plotter->valueAxis(1)->range().lower, -59.45));
    QCOMPARE(widget->yAxis->range(), plotter->valueAxis(1)->range());
    // Curve 1 is still drawn against value axis 0.
    QCOMPARE(plotter->valueAxis(0)->range(), scale0);
    QCOMPARE(widget->graph(1)->valueAxis(), plotter->valueAxis(0));
}

void GraphPlotterTest::clickingCurveOneDragsAndZoomsItsOwnAxisOnly()
{
    for (int i = 0; i <= 128; ++i) {
        plotter->addPoint(0, i, 20);
        plotter->addPoint(1, i, 70);
    }
    plotter->GraphReplot(0);

    click(pointOf(1, 64, 70));
    QVERIFY(widget->graph(1)->selected());
    QVERIFY(!widget->graph(0)->selected());
    QCPAxisRect *rect = widget->axisRect();
    QCOMPARE(rect->rangeDragAxis(Qt::Vertical), plotter->valueAxis(1));
    QCOMPARE(rect->rangeZoomAxis(Qt::Vertical), plotter->valueAxis(1));
    QCOMPARE(rect->rangeDragAxes(Qt::Horizontal).size(), 0);
    QCOMPARE(rect->rangeDrag(), Qt::Vertical);
    QCOMPARE(rect->rangeZoom(), Qt::Vertical);
    QCOMPARE(plotter->valueAxis(1)->selectedParts(),
             QCPAxis::spAxis | QCPAxis::spTickLabels | QCPAxis::spAxisLabel);

    // The wheel rescales value axis 1 and the grid, but not the curve.
    const QCPRange drawScale = plotter->valueAxis(0)->range();
    wheel(pointOf(1, 64, 50), 120);
    QVERIFY(plotter->valueAxis(1)->range() != QCPRange(0, 100));
    QCOMPARE(widget->yAxis->range(), plotter->valueAxis(1)->range());
    QCOMPARE(plotter->valueAxis(0)->range(), drawScale);
    QCOMPARE(plotter->keyAxis()->range(), QCPRange(0, 128));
}

void GraphPlotterTest::clickingVisibleValueAxisMovesBothCurves()
{
    for (int i = 0; i <= 128; ++i) {
        plotter->addPoint(0, i, 20);
        plotter->addPoint(1, i, 70);
    }
    plotter->GraphReplot(0);

    QCPAxis *axis0 = plotter->valueAxis(0);
    // The grid shows another axis' scale until axis 0 is picked.
    plotter->valueAxis(1)->setRange(-5, 5);
    QCOMPARE(widget->yAxis->range(), QCPRange(-5, 5));
    const int baseX = widget->axisRect()->left() - axis0->offset();
    click(QPoint(baseX - 1, widget->axisRect()->center().y()));
    QVERIFY(axis0->selectedParts().testFlag(QCPAxis::spAxis));
    QVERIFY(widget->graph(0)->selected()); // the axis picks its curve too
    QCPAxisRect *rect = widget->axisRect();
    QCOMPARE(rect->rangeDragAxis(Qt::Vertical), axis0);
    QCOMPARE(rect->rangeZoomAxis(Qt::Vertical), axis0);
    QCOMPARE(widget->yAxis->range(), QCPRange(0, 100));

    // Both curves live on axis 0, so a zoom moves them together.
    const QPoint before1 = pointOf(1, 64, 70);
    wheel(pointOf(0, 64, 50), 120);
    QVERIFY(axis0->range() != QCPRange(0, 100));
    widget->replot();
    QVERIFY(pointOf(1, 64, 70) != before1);
}

void GraphPlotterTest::clickingEmptySpaceReleasesDragAndZoom()
{
    // The frame axes only draw the grid; clicking one picks nothing.
    QCPAxisRect *frame = widget->axisRect();
    click(QPoint(frame->center().x(), frame->bottom()));
    QCOMPARE(widget->xAxis->selectedParts(), QCPAxis::spNone);
    QCOMPARE(widget->selectedAxes().size(), 0);
    click(QPoint(frame->right(), frame->center().y()));
    QCOMPARE(widget->yAxis2->selectedParts(), QCPAxis::spNone);
    QCOMPARE(frame->rangeDragAxes(Qt::Vertical).size(), 0);


    for (int i = 0; i <= 128; ++i)
        plotter->addPoint(1, i, 70);
    plotter->GraphReplot(0);
    click(pointOf(1, 64, 70));
    QCOMPARE(widget->axisRect()->rangeDragAxis(Qt::Vertical), plotter->valueAxis(1));

    click(pointOf(1, 64, 20));
    QVERIFY(!widget->graph(1)->selected());
    QCPAxisRect *rect = widget->axisRect();
    QCOMPARE(rect->rangeDragAxes(Qt::Vertical).size(), 0);
    QCOMPARE(rect->rangeDragAxes(Qt::Horizontal).size(), 0);
    QCOMPARE(rect->rangeZoomAxes(Qt::Vertical).size(), 0);
    QCOMPARE(rect->rangeZoomAxes(Qt::Horizontal).size(), 0);

    const QCPRange before = plotter->valueAxis(1)->range();
    wheel(pointOf(1, 64, 20), 120);
    QCOMPARE(plotter->valueAxis(1)->range(), before);
    QCOMPARE(plotter->valueAxis(0)->range(), QCPRange(0, 100));
}

void GraphPlotterTest::selectedKeyAxisZoomsHorizontallyAndStopsScrolling()
{
    QCPAxis *key = plotter->keyAxis();

    // Unselected, the time window scrolls to the last 20 seconds.
    key->setRange(-1000, -900);
    plotter->GraphsReplot();
    // setPlot ran moments ago, so the window ends near 0 s.
    QCOMPARE(key->range().size(), 20.0);
    QVERIFY(key->range().upper >= 0 && key->range().upper < 60);

    // A window dragged ahead is left alone.
    key->setRange(1000, 1100);
    plotter->GraphsReplot();
    QCOMPARE(key->range(), QCPRange(1000, 1100));

    key->setRange(-1000, -900);
    const int baseY = widget->axisRect()->bottom() + key->offset();
    click(QPoint(widget->axisRect()->center().x(), baseY + 1));
    QVERIFY(key->selectedParts().testFlag(QCPAxis::spAxis));
    QCOMPARE(key->selectedParts(),
             QCPAxis::spAxis | QCPAxis::spTickLabels | QCPAxis::spAxisLabel);
    QCPAxisRect *rect = widget->axisRect();
    QCOMPARE(rect->rangeDragAxis(Qt::Horizontal), key);
    QCOMPARE(rect->rangeZoomAxis(Qt::Horizontal), key);
    QCOMPARE(rect->rangeDragAxes(Qt::Vertical).size(), 0);
    QCOMPARE(rect->rangeDrag(), Qt::Horizontal);
    QCOMPARE(rect->rangeZoom(), Qt::Horizontal);
    QCOMPARE(widget->xAxis->range(), key->range());
    // No frame axis stays selected.
    QCOMPARE(widget->xAxis->selectedParts(), QCPAxis::spNone);

    plotter->GraphsReplot();
    QCOMPARE(key->range(), QCPRange(-1000, -900));

    wheel(QPoint(widget->axisRect()->center().x(), widget->axisRect()->center().y()), 120);
    QVERIFY(key->range().size() < 100);
    QCOMPARE(plotter->valueAxis(0)->range(), QCPRange(0, 100));
}

void GraphPlotterTest::xRangeAndAppendValue()
{
    plotter->setXRange(300);
    QCOMPARE(plotter->keyAxis()->range(), QCPRange(0, 300));
    QCOMPARE(widget->xAxis->range(), QCPRange(0, 300));
    plotter->setXRange(0); // an empty read-out: no usable range, keep the old one
    QCOMPARE(plotter->keyAxis()->range(), QCPRange(0, 300));

    plotter->appendValue(2, 5);
    plotter->appendValue(2, 6);
    plotter->addPoint(2, 10.5, 7);
    plotter->appendValue(2, 8);
    QCOMPARE(plotter->graphKeys(2), (QVector<double> {0, 1, 10.5, 11.5}));
    QCOMPARE(plotter->graphValues(2), (QVector<double> {5, 6, 7, 8}));
    QCOMPARE(widget->graph(2)->dataCount(), 4);

    // clearGraph empties the master copy; the curve shows the old points
    // until it is handed new ones.
    plotter->clearGraph(2);
    QVERIFY(plotter->graphKeys(2).isEmpty());
    QCOMPARE(widget->graph(2)->dataCount(), 4);
    plotter->appendValue(2, 9);
    QCOMPARE(widget->graph(2)->dataCount(), 1);
    QCOMPARE(plotter->graphKeys(2), QVector<double> {0});
}

void GraphPlotterTest::badIndicesAndMissingPlotAreHarmless()
{
    plotter->addPoint(0, 1, 2);
    for (int bad : {-1, 64, 65, INT_MIN, INT_MAX}) {
        plotter->addPoint(bad, 1, 1);
        plotter->appendValue(bad, 1);
        plotter->clearGraph(bad);
        plotter->setGraphColor(bad, Qt::red);
        plotter->setAxisLabel(bad, QStringLiteral("x"));
        plotter->SetVisibleGraph(bad, true);
        plotter->GraphReplot(bad);
        QCOMPARE(plotter->peakToPeak(bad), 0.0f);
        QVERIFY(!plotter->graphColor(bad).isValid());
        QVERIFY(plotter->graphKeys(bad).isEmpty());
        QVERIFY(!plotter->valueAxis(bad));
    }
    QCOMPARE(plotter->graphKeys(0), QVector<double> {1});
    QCOMPARE(widget->graphCount(), graph_plotter::kGraphCount);

    // A NaN key would break the curve's ordering; it is not taken.
    plotter->addPoint(0, std::nan(""), 3);
    QCOMPARE(plotter->graphKeys(0).size(), plotter->graphValues(0).size());
    QCOMPARE(plotter->graphKeys(0), QVector<double> {1});

    // A second setPlot does not pile another 64 axes onto the plot.
    const int leftAxes = widget->axisRect()->axisCount(QCPAxis::atLeft);
    plotter->setPlot(widget.get());
    QCOMPARE(widget->axisRect()->axisCount(QCPAxis::atLeft), leftAxes);

    graph_plotter unattached;
    unattached.setAutoscaleEn(true);
    unattached.addPoint(0, 0, 1);
    unattached.addPoint(0, 1, 4);
    unattached.clearGraph(1);
    unattached.setXRange(10);
    unattached.SetVisibleGraph(0, true);
    unattached.GraphsReplot();
    unattached.setGraphColor(0, Qt::red);
    unattached.GraphReplot(0);
    QCOMPARE(unattached.peakToPeak(0), 3.0f);
    unattached.clearGraphs();
    QVERIFY(unattached.graphKeys(0).isEmpty());
    QVERIFY(!unattached.keyAxis());
}

QTEST_MAIN(GraphPlotterTest)
#include "plot_graph_plotter.moc"
