// Graph data files: exact bytes of the text and binary layouts that other
// tools read, the all-curves round trip, a loader that survives any input,
// and saves that fail where they cannot write.

#include "graph_plotter.h"

#include <qcustomplot.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <memory>

namespace {

QByteArray readAll(const QString &name)
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

void writeAll(const QString &name, const QByteArray &data)
{
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(data), qint64(data.size()));
}

quint32 bitsOf(float f)
{
    quint32 b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

QByteArray record(qint32 graph, quint32 keyBits, quint32 valueBits)
{
    char bytes[12];
    qToLittleEndian(graph, bytes);
    qToLittleEndian(keyBits, bytes + 4);
    qToLittleEndian(valueBits, bytes + 8);
    return QByteArray(bytes, 12);
}

double narrowed(double v)
{
    return static_cast<float>(v);
}

const QDateTime kStamp(QDate(2024, 3, 5), QTime(7, 8, 9));
const QString kStem = QStringLiteral("!!log/2024_03_05 07_08_09");

} // namespace

class GraphFilesTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void singleCurveFilesAreByteExactAndOverwritten();
    void piKeepsItsBitPatternThroughSaveAndLoad();
    void allCurvesFilesAreByteExactWithBlankCellsForShortCurves();
    void allCurvesSaveOfEmptyCurvesWritesHeadingsOnly();
    void allCurvesRoundTripRestoresEveryPointInOrder();
    void loaderSkipsBadAndPartialRecordsOfRandomFiles();
    void loaderCountsTruncatedFiles();
    void loaderReportsMissingFile();
    void savesReportFailureWhenTheyCannotWrite();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString oldCwd;
    std::unique_ptr<QCustomPlot> widget;
    std::unique_ptr<graph_plotter> plotter;
};

void GraphFilesTest::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir->path()));
    widget.reset(new QCustomPlot);
    widget->resize(400, 300);
    plotter.reset(new graph_plotter);
    plotter->setPlot(widget.get());
}

void GraphFilesTest::cleanup()
{
    plotter.reset();
    widget.reset();
    QDir::setCurrent(oldCwd);
    dir.reset();
}

void GraphFilesTest::singleCurveFilesAreByteExactAndOverwritten()
{
    plotter->addPoint(0, 0, 5);
    plotter->addPoint(0, 1, 7.25);
    plotter->addPoint(0, -2.5, 1e6);
    plotter->addPoint(1, 9, 9); // another curve stays out of it
    QVERIFY(plotter->on_saveGraphToFile(0));
    QCOMPARE(readAll("graph.txt"),
             QByteArray("0.000000;5.000000;\n"
                        "1.000000;7.250000;\n"
                        "-2.500000;1000000.000000;\n"));
    QCOMPARE(readAll("graphs.bin").toHex(' '),
             QByteArray("00 00 00 00 00 00 a0 40 "
                        "00 00 80 3f 00 00 e8 40 "
                        "00 00 20 c0 00 24 74 49"));

    // Saving again replaces both files, shorter ones included.
    plotter->clearGraphs();
    plotter->addPoint(0, 0.1234567, -0.5);
    QVERIFY(plotter->on_saveGraphToFile(0));
    QCOMPARE(readAll("graph.txt"), QByteArray("0.123457;-0.500000;\n"));
    QCOMPARE(readAll("graphs.bin").size(), 8);

    plotter->clearGraphs();
    QVERIFY(plotter->on_saveGraphToFile(0));
    QCOMPARE(readAll("graph.txt"), QByteArray());
    QCOMPARE(readAll("graphs.bin"), QByteArray());
}

void GraphFilesTest::piKeepsItsBitPatternThroughSaveAndLoad()
{
    plotter->addPoint(0, 0, M_PI);
    QVERIFY(plotter->on_saveGraphToFile(0));
    QCOMPARE(readAll("graphs.bin").mid(4).toHex(), QByteArray("db0f4940"));
    QCOMPARE(readAll("graph.txt"), QByteArray("0.000000;3.141593;\n"));

    QVERIFY(plotter->saveGraphsToFile(QString(), kStamp));
    QCOMPARE(readAll(kStem + "_graphs.bin").toHex(),
             QByteArray("00000000" "00000000" "db0f4940"));

    writeAll("pi.bin", record(5, 0, 0x40490FDB));
    int skipped = -1;
    QVERIFY(plotter->on_loadGraphsFromFile("pi.bin", &skipped));
    QCOMPARE(skipped, 0);
    QVERIFY(plotter->graphKeys(0).isEmpty()); // the load cleared curve 0
    QCOMPARE(plotter->graphValues(5).size(), 1);
    const double y = plotter->graphValues(5).first();
    QCOMPARE(QString::number(y, 'f', 7), QStringLiteral("3.1415927"));
    QCOMPARE(bitsOf(static_cast<float>(y)), 0x40490FDBu);
    QCOMPARE(widget->graph(5)->dataCount(), 1);
}

void GraphFilesTest::allCurvesFilesAreByteExactWithBlankCellsForShortCurves()
{
    plotter->addPoint(0, 0, 5);
    plotter->addPoint(0, 1, 6);
    plotter->addPoint(1, 0, 7);
    plotter->addPoint(63, 2, -1);
    plotter->addPoint(63, 3, -2);
    plotter->addPoint(63, 4, -3);
    const QString header = QStringLiteral("Заголовок; any text: ; ;\t!");
    QVERIFY(!QDir("!!log").exists()); // made on demand
    QVERIFY(plotter->saveGraphsToFile(header, kStamp));

    QByteArray headings;
    for (int i = 0; i < 64; ++i)
        headings += "time; value;";
    QCOMPARE(headings.size(), 768);
    const QByteArray blank(" ; ;");
    QByteArray expected = header.toLocal8Bit() + '\n' + headings + '\n';
    expected += "0.000000;5.000000;0.000000;7.000000;" + blank.repeated(61)
                + "2.000000;-1.000000;\n";
    expected += "1.000000;6.000000;" + blank.repeated(62) + "3.000000;-2.000000;\n";
    expected += blank.repeated(63) + "4.000000;-3.000000;\n";
    QCOMPARE(readAll(kStem + "_graphs.txt"), expected);

    QCOMPARE(readAll(kStem + "_graphs.bin").toHex(' '),
             QByteArray("00 00 00 00 00 00 00 00 00 00 a0 40 "
                        "01 00 00 00 00 00 00 00 00 00 e0 40 "
                        "3f 00 00 00 00 00 00 40 00 00 80 bf "
                        "00 00 00 00 00 00 80 3f 00 00 c0 40 "
                        "3f 00 00 00 00 00 40 40 00 00 00 c0 "
                        "3f 00 00 00 00 00 80 40 00 00 40 c0"));

    // The slot stamps with the current time: a file of that pattern appears.
    QVERIFY(plotter->on_saveGraphsToFile(QStringLiteral("h")));
    const QStringList names = QDir("!!log").entryList(QStringList() << "*_graphs.txt", QDir::Files);
    QCOMPARE(names.size(), 2);
    const QRegularExpression pattern("^\\d{4}_\\d\\d_\\d\\d \\d\\d_\\d\\d_\\d\\d_graphs\\.txt$");
    for (const QString &name : names)
        QVERIFY2(pattern.match(name).hasMatch(), qPrintable(name));
}

void GraphFilesTest::allCurvesSaveOfEmptyCurvesWritesHeadingsOnly()
{
    QVERIFY(plotter->saveGraphsToFile(QStringLiteral("header"), kStamp));
    QCOMPARE(readAll(kStem + "_graphs.txt"),
             "header\n" + QByteArray("time; value;").repeated(64) + "\n");
    QCOMPARE(readAll(kStem + "_graphs.bin"), QByteArray());
}

void GraphFilesTest::allCurvesRoundTripRestoresEveryPointInOrder()
{
    QRandomGenerator rng(12345);
    QVector<double> keys[64], values[64];
    for (int g = 0; g < 64; ++g) {
        const int count = (g * 37) % 23; // some curves empty, lengths unequal
        for (int i = 0; i < count; ++i) {
            // Keys out of order and repeated, values over many magnitudes.
            const double key = (i % 5 == 4) ? i - 3 : i * 0.5 - 2;
            const double value = (rng.generateDouble() - 0.5) * std::pow(10.0, rng.bounded(-6, 30));
            keys[g].append(key);
            values[g].append(value);
            plotter->addPoint(g, key, value);
        }
    }
    QVERIFY(plotter->saveGraphsToFile(QStringLiteral("round trip"), kStamp));
    const QByteArray saved = readAll(kStem + "_graphs.bin");

    int skipped = -1;
    QVERIFY(plotter->on_loadGraphsFromFile(kStem + "_graphs.bin", &skipped));
    QCOMPARE(skipped, 0);
    for (int g = 0; g < 64; ++g) {
        QVector<double> wantKeys, wantValues;
        for (int i = 0; i < keys[g].size(); ++i) {
            wantKeys.append(narrowed(keys[g][i]));
            wantValues.append(narrowed(values[g][i]));
        }
        QCOMPARE(plotter->graphKeys(g), wantKeys);
        QCOMPARE(plotter->graphValues(g), wantValues);
        QCOMPARE(widget->graph(g)->dataCount(), wantKeys.size());
    }

    // Narrowed once, the points survive a second trip unchanged.
    QVERIFY(plotter->saveGraphsToFile(QStringLiteral("round trip"), kStamp));
    QCOMPARE(readAll(kStem + "_graphs.bin"), saved);
}

void GraphFilesTest::loaderSkipsBadAndPartialRecordsOfRandomFiles()
{
    QRandomGenerator rng(20240305);
    widget->resize(300, 200);
    plotter->setAutoscaleEn(true);
    for (int g = 0; g < 64; ++g)
        plotter->SetVisibleGraph(g, true);
    for (int round = 0; round < 3000; ++round) {
        QByteArray data;
        const int records = rng.bounded(0, 20);
        int expectSkipped = 0;
        int expectLoaded = 0;
        for (int r = 0; r < records; ++r) {
            // Mostly plausible indices so that garbage floats get loaded too.
            const qint32 graph = rng.bounded(0, 4) == 0 ? qint32(rng.generate())
                                                        : rng.bounded(-2, 66);
            quint32 keyBits = rng.generate();
            if (rng.bounded(0, 8) == 0)
                keyBits = 0x7FC00000; // NaN
            const quint32 valueBits = rng.bounded(0, 8) == 0 ? 0x7F800000u : rng.generate();
            float key;
            std::memcpy(&key, &keyBits, sizeof key);
            if (graph < 0 || graph > 63 || std::isnan(key))
                ++expectSkipped;
            else
                ++expectLoaded;
            data += record(graph, keyBits, valueBits);
        }
        const int tail = rng.bounded(0, 12);
        for (int i = 0; i < tail; ++i)
            data += char(rng.bounded(0, 256));
        if (tail)
            ++expectSkipped;
        writeAll("random.bin", data);

        int skipped = -1;
        QVERIFY(plotter->on_loadGraphsFromFile("random.bin", &skipped));
        QCOMPARE(skipped, expectSkipped);
        int loaded = 0;
        for (int g = 0; g < 64; ++g) {
            QCOMPARE(plotter->graphKeys(g).size(), plotter->graphValues(g).size());
            loaded += plotter->graphKeys(g).size();
        }
        QCOMPARE(loaded, expectLoaded);
        // Drawing garbage values must not hang or crash either.
        if (round % 50 == 0)
            plotter->GraphReplot(round % 64);
    }
}

void GraphFilesTest::loaderCountsTruncatedFiles()
{
    for (int g = 0; g < 4; ++g)
        for (int i = 0; i < 3; ++i)
            plotter->addPoint(g, i, g * 10 + i);
    QVERIFY(plotter->saveGraphsToFile(QString(), kStamp));
    const QByteArray full = readAll(kStem + "_graphs.bin");
    QCOMPARE(full.size(), 12 * 12);

    for (int len = 0; len <= full.size(); ++len) {
        writeAll("cut.bin", full.left(len));
        int skipped = -1;
        QVERIFY(plotter->on_loadGraphsFromFile("cut.bin", &skipped));
        QCOMPARE(skipped, len % 12 ? 1 : 0);
        int loaded = 0;
        for (int g = 0; g < 64; ++g)
            loaded += plotter->graphKeys(g).size();
        QCOMPARE(loaded, len / 12);
    }
}

void GraphFilesTest::loaderReportsMissingFile()
{
    plotter->addPoint(0, 1, 1);
    int skipped = -1;
    QVERIFY(!plotter->on_loadGraphsFromFile("no such file.bin", &skipped));
    QCOMPARE(skipped, 0);
    QVERIFY(!plotter->fileError().isEmpty());
    QVERIFY(plotter->graphKeys(0).isEmpty()); // cleared before the attempt
    QVERIFY(!plotter->on_loadGraphsFromFile(QString()));
}

void GraphFilesTest::savesReportFailureWhenTheyCannotWrite()
{
    plotter->addPoint(0, 0, 1);
    plotter->addPoint(0, 1, 2);

    // A folder in the way of the text file: the binary file is still written.
    QVERIFY(QDir().mkdir("graph.txt"));
    QVERIFY(!plotter->on_saveGraphToFile(0));
    QVERIFY(plotter->fileError().contains("graph.txt"));
    QCOMPARE(readAll("graphs.bin").size(), 16);
    QVERIFY(QDir().rmdir("graph.txt"));

    // Opening succeeds but the data cannot be stored (full disk).
    QVERIFY(QFile::remove("graphs.bin"));
    QVERIFY(QFile::link("/dev/full", "graphs.bin"));
    QVERIFY(!plotter->on_saveGraphToFile(0));
    QVERIFY(plotter->fileError().contains("graphs.bin"));
    QCOMPARE(readAll("graph.txt"), QByteArray("0.000000;1.000000;\n1.000000;2.000000;\n"));
    QVERIFY(QFile::remove("graphs.bin"));
    QVERIFY(plotter->on_saveGraphToFile(0));

    QVERIFY(!plotter->on_saveGraphToFile(64));

    // The all-curves pair: a full disk under one of its names...
    QVERIFY(QDir().mkdir("!!log"));
    QVERIFY(QFile::link("/dev/full", kStem + "_graphs.txt"));
    QVERIFY(!plotter->saveGraphsToFile(QStringLiteral("h"), kStamp));
    QCOMPARE(readAll(kStem + "_graphs.bin").size(), 24);
    QVERIFY(QDir("!!log").removeRecursively());

    // ...and a plain file where the folder should be.
    writeAll("!!log", "not a folder");
    QVERIFY(!plotter->saveGraphsToFile(QStringLiteral("h"), kStamp));
    QVERIFY(!plotter->on_saveGraphsToFile(QStringLiteral("h")));
    QVERIFY(!plotter->fileError().isEmpty());
}

QTEST_MAIN(GraphFilesTest)
#include "plot_graph_files.moc"
