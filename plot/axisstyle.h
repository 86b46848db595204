#pragma once

#include <qcustomplot.h>

#include <QColor>
#include <QPen>

// Axis helpers shared by the height plot and the multi-curve plot.

// Automatic tick steps with a fixed number of sub-ticks between two ticks;
// the stock ticker only chooses the sub-tick count itself.
class FixedSubTickTicker : public QCPAxisTicker
{
public:
    FixedSubTickTicker(int tickCount, int subTicks) : subTicks(subTicks) { setTickCount(tickCount); }

protected:
    int getSubTickCount(double) override { return subTicks; }

private:
    int subTicks;
};

inline void useFixedSubTicks(QCPAxis *axis, int tickCount, int subTicks)
{
    axis->setTicker(QSharedPointer<QCPAxisTicker>(new FixedSubTickTicker(tickCount, subTicks)));
}

// Draws the axis line, ticks and labels in the colour of its curve.
inline void paintAxis(QCPAxis *axis, const QColor &color)
{
    axis->setLabelColor(color);
    axis->setTickLabelColor(color);
    axis->setSubTickPen(QPen(color));
    axis->setTickPen(QPen(color));
    axis->setBasePen(QPen(color));
}
