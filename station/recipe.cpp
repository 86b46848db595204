#include "recipe.h"

#include "firmwareimage.h"
#include "heightstatistics.h"
#include "measurementsession.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

#include <cmath>

namespace Station {

namespace {

using DeviceParameters::Parameter;
using DeviceParameters::ParameterValue;
using DeviceParameters::ParameterValues;
using Kind = RecipeStep::Kind;

constexpr Kind kKinds[] = {Kind::Flash, Kind::Parameters, Kind::Save, Kind::SelfTest, Kind::Measure, Kind::Verify};

// Line and column of a byte offset, as an editor shows them.
QString position(const QByteArray &bytes, int offset)
{
    int line = 1;
    int column = 1;
    for (int i = 0; i < offset && i < bytes.size(); ++i) {
        if (bytes.at(i) == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return QStringLiteral("line %1, column %2").arg(line).arg(column);
}

QString jsonType(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Bool: return QStringLiteral("a boolean");
    case QJsonValue::Double: return QStringLiteral("a number");
    case QJsonValue::String: return QStringLiteral("a string");
    case QJsonValue::Array: return QStringLiteral("an array");
    case QJsonValue::Object: return QStringLiteral("an object");
    case QJsonValue::Undefined: break;
    }
    return QStringLiteral("nothing");
}

// Checks one step's object; where names the step for every message.
class StepReader
{
public:
    StepReader(const QJsonObject &object, const QString &where, const QString &folder, QString &error)
        : object(object), where(where), folder(folder), error(error)
    {
    }

    bool onlyKeys(const QStringList &allowed)
    {
        for (auto it = object.begin(); it != object.end(); ++it)
            if (!allowed.contains(it.key()))
                return fail(QStringLiteral("unknown key \"%1\" (this step takes %2)")
                                .arg(it.key(), allowed.join(QStringLiteral(", "))));
        return true;
    }

    bool limit(const QString &key, bool required, Limit &limit, bool whole = false)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return !required || fail(QStringLiteral("\"%1\": [low, high] is required").arg(key));
        const QJsonArray pair = value.toArray();
        if (!value.isArray() || pair.size() != 2 || !pair.at(0).isDouble() || !pair.at(1).isDouble())
            return fail(QStringLiteral("\"%1\": expected [low, high], two numbers, found %2")
                            .arg(key, value.isArray() ? QStringLiteral("%1 elements").arg(pair.size()) : jsonType(value)));
        limit.set = true;
        limit.low = pair.at(0).toDouble();
        limit.high = pair.at(1).toDouble();
        if (!std::isfinite(limit.low) || !std::isfinite(limit.high))
            return fail(QStringLiteral("\"%1\": the limits must be finite numbers").arg(key));
        if (limit.low > limit.high)
            return fail(QStringLiteral("\"%1\": low %2 is above high %3").arg(key).arg(limit.low).arg(limit.high));
        if (whole && (limit.low < 0 || limit.low != std::floor(limit.low) || limit.high != std::floor(limit.high)))
            return fail(QStringLiteral("\"%1\": the limits are counts, whole numbers from 0").arg(key));
        return true;
    }

    bool string(const QString &key, QString &text)
    {
        const QJsonValue value = object.value(key);
        if (!value.isString() || value.toString().isEmpty())
            return fail(QStringLiteral("\"%1\": expected a non-empty string, found %2").arg(key, jsonType(value)));
        text = value.toString();
        return true;
    }

    // A file the recipe names, relative to the recipe. A NUL in the name
    // would end it early for the system ("fw.bin\u0000x" opens fw.bin), so
    // the file checked would not be the file named.
    bool path(const QString &key, QString &resolved)
    {
        QString text;
        if (!string(key, text))
            return false;
        if (text.contains(QChar(0)))
            return fail(QStringLiteral("\"%1\": a file name cannot hold a NUL character").arg(key));
        resolved = QFileInfo(text).isAbsolute() ? QDir::cleanPath(text) : QDir::cleanPath(QDir(folder).filePath(text));
        return true;
    }

    bool fail(const QString &message)
    {
        error = QStringLiteral("%1: %2").arg(where, message);
        return false;
    }

    const QJsonObject &object;
    QString where;
    QString folder;
    QString &error;
};

bool readFlash(StepReader &reader, RecipeStep &step)
{
    if (!reader.onlyKeys({QStringLiteral("step"), QStringLiteral("image")}) || !reader.path(QStringLiteral("image"), step.image))
        return false;
    QFile file(step.image);
    if (QFileInfo(step.image).isDir() || !file.open(QIODevice::ReadOnly))
        return reader.fail(QStringLiteral("\"image\": cannot read %1: %2")
                               .arg(step.image, QFileInfo(step.image).isDir() ? QStringLiteral("a folder")
                                                                                : file.errorString()));
    // Too large is known from the size alone; nothing that big is read.
    if (file.size() > FirmwareImage::kMaxSize)
        return reader.fail(QStringLiteral("\"image\": %1 is %2 bytes, more than the %3 a device takes")
                               .arg(step.image).arg(file.size()).arg(FirmwareImage::kMaxSize));
    if (FirmwareImage::check(file.readAll()) != FirmwareImage::Problem::None)
        return reader.fail(QStringLiteral("\"image\": %1 fails the image check (length or checksum)").arg(step.image));
    return true;
}

bool readParameters(StepReader &reader, RecipeStep &step)
{
    if (!reader.onlyKeys({QStringLiteral("step"), QStringLiteral("values"), QStringLiteral("file")}))
        return false;
    const bool hasValues = reader.object.contains(QStringLiteral("values"));
    const bool hasFile = reader.object.contains(QStringLiteral("file"));
    if (hasValues == hasFile)
        return reader.fail(QStringLiteral("give either \"values\" or \"file\""));
    if (hasFile) {
        if (!reader.path(QStringLiteral("file"), step.backupFile))
            return false;
        DeviceParameters::Backup backup;
        QString why;
        if (!DeviceParameters::readBackup(step.backupFile, backup, why))
            return reader.fail(QStringLiteral("\"file\": %1").arg(why));
        step.values = backup.values;
        return true;
    }
    const QJsonValue values = reader.object.value(QStringLiteral("values"));
    if (!values.isObject() || values.toObject().isEmpty())
        return reader.fail(QStringLiteral("\"values\": expected an object of parameter names and values, found %1")
                               .arg(values.isObject() ? QStringLiteral("an empty object") : jsonType(values)));
    const QJsonObject object = values.toObject();
    // In table order, as a backup file is written, whatever the file's order.
    for (const Parameter &parameter : DeviceParameters::all()) {
        const QJsonValue value = object.value(QLatin1String(parameter.name));
        if (value.isUndefined())
            continue;
        if (!value.isDouble())
            return reader.fail(QStringLiteral("\"values\": \"%1\": expected a number, found %2")
                                   .arg(QLatin1String(parameter.name), jsonType(value)));
        double number = value.toDouble();
        QString why;
        if (!DeviceParameters::fitsRegister(parameter, number, why))
            return reader.fail(QStringLiteral("\"values\": %1").arg(why));
        // What the register will hold is the float nearest to the number.
        if (parameter.kind == DeviceParameters::Kind::Float)
            number = double(float(number));
        step.values.append({&parameter, number});
    }
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!DeviceParameters::find(it.key()))
            return reader.fail(QStringLiteral("\"values\": unknown parameter \"%1\"").arg(it.key()));
    return true;
}

bool readMeasure(StepReader &reader, RecipeStep &step)
{
    if (!reader.onlyKeys({QStringLiteral("step"), QStringLiteral("seconds"), QStringLiteral("mean"),
                          QStringLiteral("stddev"), QStringLiteral("missed")}))
        return false;
    const QJsonValue seconds = reader.object.value(QStringLiteral("seconds"));
    step.seconds = seconds.toDouble();
    if (!seconds.isDouble() || !(step.seconds > 0) || step.seconds > kMaxMeasureSeconds)
        return reader.fail(QStringLiteral("\"seconds\": expected a number above 0 and at most %1").arg(kMaxMeasureSeconds));
    step.ticks = qMax(1, int(std::lround(step.seconds * 1000 / Measurement::kPeriodMs)));
    return reader.limit(QStringLiteral("mean"), true, step.mean) && reader.limit(QStringLiteral("stddev"), true, step.stddev)
           && reader.limit(QStringLiteral("missed"), false, step.missed, true);
}

} // namespace

QString kindName(RecipeStep::Kind kind)
{
    switch (kind) {
    case Kind::Flash: return QStringLiteral("flash");
    case Kind::Parameters: return QStringLiteral("parameters");
    case Kind::Save: return QStringLiteral("save");
    case Kind::SelfTest: return QStringLiteral("selftest");
    case Kind::Measure: return QStringLiteral("measure");
    case Kind::Verify: return QStringLiteral("verify");
    }
    return QString();
}

bool Recipe::read(const QString &path, Recipe &recipe, QString &error)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the recipe %1: %2")
                    .arg(path, QFileInfo(path).isDir() ? QStringLiteral("a folder") : file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (!parse(bytes, QFileInfo(path).absolutePath(), recipe, error)) {
        error = QStringLiteral("%1: %2").arg(path, error);
        return false;
    }
    recipe.path = path;
    return true;
}

bool Recipe::parse(const QByteArray &bytes, const QString &folder, Recipe &recipe, QString &error)
{
    recipe = Recipe();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("%1: %2").arg(position(bytes, parseError.offset), parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        error = QStringLiteral("expected an object with \"name\" and \"steps\"");
        return false;
    }
    const QJsonObject top = document.object();
    for (auto it = top.begin(); it != top.end(); ++it)
        if (it.key() != QLatin1String("name") && it.key() != QLatin1String("steps")) {
            error = QStringLiteral("unknown key \"%1\" (a recipe has \"name\" and \"steps\")").arg(it.key());
            return false;
        }
    const QJsonValue name = top.value(QStringLiteral("name"));
    if (!name.isString() || name.toString().trimmed().isEmpty()) {
        error = QStringLiteral("\"name\": expected a non-empty string, found %1").arg(jsonType(name));
        return false;
    }
    recipe.name = name.toString();
    const QJsonValue steps = top.value(QStringLiteral("steps"));
    if (!steps.isArray() || steps.toArray().isEmpty()) {
        error = QStringLiteral("\"steps\": expected a non-empty array of steps, found %1")
                    .arg(steps.isArray() ? QStringLiteral("an empty array") : jsonType(steps));
        return false;
    }

    ParameterValues written;
    const QJsonArray array = steps.toArray();
    for (int i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("steps[%1]").arg(i);
        if (!array.at(i).isObject()) {
            error = QStringLiteral("%1: expected an object, found %2").arg(where, jsonType(array.at(i)));
            return false;
        }
        const QJsonObject object = array.at(i).toObject();
        const QString kindText = object.value(QStringLiteral("step")).toString();
        RecipeStep step;
        step.index = i;
        bool known = false;
        for (Kind kind : kKinds)
            if (kindName(kind) == kindText) {
                step.kind = kind;
                known = true;
            }
        if (!known) {
            QStringList names;
            for (Kind kind : kKinds)
                names << kindName(kind);
            error = object.contains(QStringLiteral("step"))
                        ? QStringLiteral("%1: unknown step \"%2\" (one of %3)").arg(where, kindText, names.join(QStringLiteral(", ")))
                        : QStringLiteral("%1: \"step\" is missing (one of %2)").arg(where, names.join(QStringLiteral(", ")));
            return false;
        }
        StepReader reader(object, QStringLiteral("%1 (%2)").arg(where, kindText), folder, error);
        bool ok = true;
        switch (step.kind) {
        case Kind::Flash:
            ok = readFlash(reader, step);
            break;
        case Kind::Parameters:
            ok = readParameters(reader, step);
            for (const ParameterValue &entry : qAsConst(step.values)) {
                auto earlier = std::find_if(written.begin(), written.end(),
                                            [&](const ParameterValue &w) { return w.parameter == entry.parameter; });
                if (earlier != written.end())
                    earlier->value = entry.value;
                else
                    written.append(entry);
            }
            break;
        case Kind::Save:
        case Kind::SelfTest:
            ok = reader.onlyKeys({QStringLiteral("step")});
            break;
        case Kind::Measure:
            ok = readMeasure(reader, step);
            break;
        case Kind::Verify:
            ok = reader.onlyKeys({QStringLiteral("step")});
            if (ok && written.isEmpty())
                ok = reader.fail(QStringLiteral("nothing to compare: no \"parameters\" step comes before it"));
            step.expected = written;
            break;
        }
        if (!ok)
            return false;
        recipe.steps.append(step);
    }
    recipe.hash = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    return true;
}

} // namespace Station
