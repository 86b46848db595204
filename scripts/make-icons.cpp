// Draws the configurator's icons. Run through scripts/make-icons; the PNGs
// and the .ico it writes are kept in icons/ so a build needs no generator.
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>

static QImage canvas(int size)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    return img;
}

// Circular arrow: the usual "read again" sign.
static QImage refresh(int size)
{
    QImage img = canvas(size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPen pen(QColor(30, 110, 200), s * 0.13, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    QRectF r(s * 0.2, s * 0.2, s * 0.6, s * 0.6);
    p.drawArc(r, 40 * 16, 280 * 16);
    // Arrow head at the arc's start (40 degrees).
    const qreal a = qDegreesToRadians(40.0);
    QPointF tip(r.center().x() + r.width() / 2 * qCos(a), r.center().y() - r.height() / 2 * qSin(a));
    QPainterPath head;
    head.moveTo(tip + QPointF(-s * 0.22, -s * 0.04));
    head.lineTo(tip + QPointF(s * 0.06, -s * 0.14));
    head.lineTo(tip + QPointF(s * 0.06, s * 0.16));
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 110, 200));
    p.drawPath(head);
    return img;
}

// Green tick.
static QImage accept(int size)
{
    QImage img = canvas(size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPen pen(QColor(20, 150, 40), s * 0.14, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    QPainterPath tick;
    tick.moveTo(s * 0.2, s * 0.52);
    tick.lineTo(s * 0.42, s * 0.74);
    tick.lineTo(s * 0.8, s * 0.28);
    p.drawPath(tick);
    return img;
}

// Green triangle.
static QImage start(int size)
{
    QImage img = canvas(size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    QPainterPath tri;
    tri.moveTo(s * 0.28, s * 0.18);
    tri.lineTo(s * 0.82, s * 0.5);
    tri.lineTo(s * 0.28, s * 0.82);
    tri.closeSubpath();
    p.setPen(QPen(QColor(10, 100, 25), s * 0.05));
    p.setBrush(QColor(40, 170, 60));
    p.drawPath(tri);
    return img;
}

// Red square.
static QImage stop(int size)
{
    QImage img = canvas(size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(QPen(QColor(120, 10, 10), s * 0.05));
    p.setBrush(QColor(210, 40, 40));
    p.drawRoundedRect(QRectF(s * 0.22, s * 0.22, s * 0.56, s * 0.56), s * 0.06, s * 0.06);
    return img;
}

// Application picture: a radar altimeter beam over the ground.
static QImage application(int size)
{
    QImage img = canvas(size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 60, 120));
    p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.16, s * 0.16);
    // Ground line.
    p.setPen(QPen(QColor(120, 200, 90), s * 0.07, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.16, s * 0.8), QPointF(s * 0.84, s * 0.8));
    // Antenna and beam.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(240, 240, 240));
    p.drawRect(QRectF(s * 0.38, s * 0.16, s * 0.24, s * 0.1));
    p.setPen(QPen(QColor(255, 210, 60), s * 0.05, Qt::SolidLine, Qt::RoundCap));
    for (int i = 1; i <= 3; ++i) {
        const qreal w = s * 0.14 * i;
        p.drawArc(QRectF(s * 0.5 - w, s * 0.26 + s * 0.13 * i - w, 2 * w, 2 * w), 225 * 16, 90 * 16);
    }
    return img;
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("icons");
    QDir().mkpath(dir);
    bool ok = true;
    ok &= refresh(24).save(dir + "/refresh.png");
    ok &= accept(32).save(dir + "/accept.png");
    ok &= start(32).save(dir + "/start.png");
    ok &= stop(32).save(dir + "/stop.png");
    ok &= application(48).save(dir + "/zetra.ico", "ICO");
    // The same picture for the desktop menu (installed into the icon theme).
    for (int size : {48, 256})
        ok &= application(size).save(dir + QStringLiteral("/zetra-%1.png").arg(size));
    if (!ok)
        std::fprintf(stderr, "make-icons: could not write every icon into %s\n", qPrintable(dir));
    return ok ? 0 : 1;
}
