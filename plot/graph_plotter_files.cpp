// Saving curves as text and binary files and loading the all-curves binary
// file back. Other tools read these files, so their layout is fixed:
// "%1;%2;" text cells with six decimals and LF line ends; binary fields
// little-endian, key and value narrowed to float32.

#include "graph_plotter.h"

#include <QByteArray>
#include <QDir>
#include <QTextStream>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace {

const char kLogFolder[] = "!!log";
const char kGraphText[] = "graph.txt";
const char kGraphBinary[] = "graphs.bin";
constexpr int kAllCurvesRecordSize = 12;

QString number(double v)
{
    return QString::number(v, 'f', 6);
}

QString cell(double key, double value)
{
    return number(key) + QLatin1Char(';') + number(value) + QLatin1Char(';');
}

void appendLe32(QByteArray &out, quint32 v)
{
    char bytes[4];
    qToLittleEndian(v, bytes);
    out.append(bytes, 4);
}

void appendFloat(QByteArray &out, double v)
{
    const float f = static_cast<float>(v);
    quint32 bits;
    std::memcpy(&bits, &f, sizeof bits);
    appendLe32(out, bits);
}

float floatAt(const char *p)
{
    const quint32 bits = qFromLittleEndian<quint32>(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

} // namespace

bool graph_plotter::failFile(const QFile &file)
{
    lastFileError = file.fileName() + QStringLiteral(": ") + file.errorString();
    return false;
}

QString graph_plotter::graphsFileStem(const QDateTime &stamp)
{
    return QLatin1String(kLogFolder) + QLatin1Char('/')
        + stamp.toString(QStringLiteral("yyyy_MM_dd HH_mm_ss"));
}

// Both files are attempted even when one cannot be opened, so that a locked
// text file does not cost the binary data; the result is true only if both
// were written completely.
// A write error (a full disk) shows in the file's error state; closing
// flushes the last buffered bytes, which may fail as well.
bool graph_plotter::finishFiles(QTextStream &text, bool textOpen)
{
    bool ok = true;
    text.flush();
    if (textOpen && text.status() != QTextStream::Ok)
        ok = failFile(textFile);
    for (QFile *file : {&textFile, &binaryFile}) {
        if (!file->isOpen())
            continue;
        file->close();
        if (file->error() != QFileDevice::NoError)
            ok = failFile(*file);
    }
    return ok;
}

bool graph_plotter::on_saveGraphToFile(int idx)
{
    lastFileError.clear();
    if (!validIndex(idx)) {
        lastFileError = QStringLiteral("no curve %1").arg(idx);
        return false;
    }
    bool ok = true;
    textFile.setFileName(QLatin1String(kGraphText));
    const bool textOpen = textFile.open(QIODevice::WriteOnly);
    if (!textOpen)
        ok = failFile(textFile);
    binaryFile.setFileName(QLatin1String(kGraphBinary));
    const bool binaryOpen = binaryFile.open(QIODevice::WriteOnly);
    if (!binaryOpen)
        ok = failFile(binaryFile);

    QTextStream text(&textFile);
    for (int i = 0; i < keys[idx].size(); ++i) {
        if (textOpen) {
            text << cell(keys[idx][i], values[idx][i]) << '\n';
            text.flush();
        }
        if (binaryOpen) {
            QByteArray record;
            appendFloat(record, keys[idx][i]);
            appendFloat(record, values[idx][i]);
            if (binaryFile.write(record) != record.size())
                ok = failFile(binaryFile);
        }
    }
    return finishFiles(text, textOpen) && ok;
}

bool graph_plotter::on_saveGraphsToFile(QString s_header)
{
    return saveGraphsToFile(s_header, QDateTime::currentDateTime());
}

bool graph_plotter::saveGraphsToFile(const QString &header, const QDateTime &stamp)
{
    lastFileError.clear();
    // Saving into a folder that is not there would silently lose the data.
    if (!QDir().mkpath(QLatin1String(kLogFolder))) {
        lastFileError = QStringLiteral("cannot create folder %1").arg(QLatin1String(kLogFolder));
        return false;
    }
    const QString stem = graphsFileStem(stamp);
    bool ok = true;
    textFile.setFileName(stem + QStringLiteral("_graphs.txt"));
    const bool textOpen = textFile.open(QIODevice::WriteOnly);
    if (!textOpen)
        ok = failFile(textFile);
    binaryFile.setFileName(stem + QStringLiteral("_graphs.bin"));
    const bool binaryOpen = binaryFile.open(QIODevice::WriteOnly);
    if (!binaryOpen)
        ok = failFile(binaryFile);

    QTextStream text(&textFile);
    if (textOpen) {
        text << header << '\n';
        for (int g = 0; g < kGraphCount; ++g)
            text << "time; value;";
        text << '\n';
    }

    for (int r = 0;; ++r) {
        QString row;
        QByteArray records;
        for (int g = 0; g < kGraphCount; ++g) {
            if (keys[g].size() > r) {
                row += cell(keys[g][r], values[g][r]);
                appendLe32(records, static_cast<quint32>(g));
                appendFloat(records, keys[g][r]);
                appendFloat(records, values[g][r]);
            } else {
                row += QLatin1String(" ; ;");
            }
        }
        if (records.isEmpty())
            break;
        if (binaryOpen && binaryFile.write(records) != records.size())
            ok = failFile(binaryFile);
        if (textOpen)
            text << row << '\n';
    }
    return finishFiles(text, textOpen) && ok;
}

// Records are 12 bytes: int32 curve index, float32 key, float32 value. A
// record naming no curve 0..63, or with a NaN key, is skipped; so is a final
// record cut short. All are counted for the caller. Each loaded curve gets its
// points handed over once at the end rather than per record: the result is the
// same and loading stays linear in the file size.
bool graph_plotter::on_loadGraphsFromFile(QString f_name, int *skippedRecords)
{
    lastFileError.clear();
    int skipped = 0;
    clearGraphs();
    binaryFile.setFileName(f_name);
    if (!binaryFile.open(QIODevice::ReadOnly)) {
        if (skippedRecords)
            *skippedRecords = 0;
        return failFile(binaryFile);
    }

    std::array<bool, kGraphCount> touched {};
    char record[kAllCurvesRecordSize];
    for (;;) {
        const qint64 n = binaryFile.read(record, kAllCurvesRecordSize);
        if (n <= 0)
            break;
        if (n < kAllCurvesRecordSize) {
            ++skipped;
            break;
        }
        const qint32 graph = qFromLittleEndian<qint32>(record);
        const float key = floatAt(record + 4);
        const float value = floatAt(record + 8);
        if (!validIndex(graph) || std::isnan(key)) {
            ++skipped;
            continue;
        }
        keys[graph].append(key);
        values[graph].append(value);
        touched[graph] = true;
    }
    const bool readOk = binaryFile.error() == QFileDevice::NoError;
    if (!readOk)
        failFile(binaryFile);
    binaryFile.close();

    for (int g = 0; g < kGraphCount; ++g) {
        if (touched[g])
            pushToGraph(g);
    }
    if (skippedRecords)
        *skippedRecords = skipped;
    return readOk;
}
