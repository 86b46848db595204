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

using Problem = RecipeProblem::Kind;
using Expected = RecipeProblem::Expected;

// Line and column of a byte offset, as an editor shows them.
void position(const QByteArray &bytes, int offset, RecipeProblem &problem)
{
    problem.line = 1;
    problem.column = 1;
    for (int i = 0; i < offset && i < bytes.size(); ++i) {
        if (bytes.at(i) == '\n') {
            ++problem.line;
            problem.column = 1;
        } else {
            ++problem.column;
        }
    }
}

void setFound(RecipeProblem &problem, const QJsonValue &value)
{
    problem.found = value.type();
    problem.foundCount = value.isArray() ? value.toArray().size() : value.isObject() ? value.toObject().size() : 0;
}

QStringList kindNames()
{
    QStringList names;
    for (Kind kind : kKinds)
        names << kindName(kind);
    return names;
}

// Checks one step's object; every problem it reports carries the step's place.
class StepReader
{
public:
    StepReader(const QJsonObject &object, const RecipeProblem &place, const QString &folder, RecipeProblem &out)
        : object(object), place(place), folder(folder), out(out)
    {
    }

    bool onlyKeys(const QStringList &allowed)
    {
        for (auto it = object.begin(); it != object.end(); ++it)
            if (!allowed.contains(it.key())) {
                problem(Problem::UnknownKey, it.key()).allowed = allowed;
                return false;
            }
        return true;
    }

    bool limit(const QString &key, bool required, Limit &limit, bool whole = false)
    {
        const QJsonValue value = object.value(key);
        if (value.isUndefined())
            return !required || fail(Problem::LimitMissing, key);
        const QJsonArray pair = value.toArray();
        if (!value.isArray() || pair.size() != 2 || !pair.at(0).isDouble() || !pair.at(1).isDouble()) {
            setFound(problem(Problem::LimitMalformed, key), value);
            return false;
        }
        limit.set = true;
        limit.low = pair.at(0).toDouble();
        limit.high = pair.at(1).toDouble();
        if (!std::isfinite(limit.low) || !std::isfinite(limit.high))
            return fail(Problem::LimitNotFinite, key);
        const bool ordered = limit.low <= limit.high;
        if (!ordered || (whole && (limit.low < 0 || limit.low != std::floor(limit.low) || limit.high != std::floor(limit.high)))) {
            RecipeProblem &p = problem(ordered ? Problem::LimitNotCounts : Problem::LowAboveHigh, key);
            p.low = limit.low;
            p.high = limit.high;
            return false;
        }
        return true;
    }

    bool string(const QString &key, QString &text)
    {
        const QJsonValue value = object.value(key);
        if (!value.isString() || value.toString().isEmpty())
            return wrongType(key, Expected::NonEmptyString, value);
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
            return fail(Problem::NulInFileName, key);
        resolved = QFileInfo(text).isAbsolute() ? QDir::cleanPath(text) : QDir::cleanPath(QDir(folder).filePath(text));
        return true;
    }

    bool wrongType(const QString &key, Expected expected, const QJsonValue &found)
    {
        RecipeProblem &p = problem(Problem::WrongType, key);
        p.expected = expected;
        setFound(p, found);
        return false;
    }

    // The step's place with this problem; the caller adds its values.
    RecipeProblem &problem(Problem kind, const QString &key = QString())
    {
        out = place;
        out.kind = kind;
        out.key = key;
        return out;
    }

    bool fail(Problem kind, const QString &key = QString())
    {
        problem(kind, key);
        return false;
    }

    const QJsonObject &object;
    const RecipeProblem place;
    QString folder;
    RecipeProblem &out;
};

bool readFlash(StepReader &reader, RecipeStep &step)
{
    const QString key = QStringLiteral("image");
    if (!reader.onlyKeys({QStringLiteral("step"), key}) || !reader.path(key, step.image))
        return false;
    QFile file(step.image);
    const bool folder = QFileInfo(step.image).isDir();
    if (folder || !file.open(QIODevice::ReadOnly)) {
        RecipeProblem &problem = reader.problem(Problem::ImageUnreadable, key);
        problem.file = step.image;
        problem.folder = folder;
        if (!folder)
            problem.reason = file.errorString();
        return false;
    }
    // Too large is known from the size alone; nothing that big is read.
    if (file.size() > FirmwareImage::kMaxSize) {
        RecipeProblem &problem = reader.problem(Problem::ImageTooBig, key);
        problem.file = step.image;
        problem.size = file.size();
        problem.maxSize = FirmwareImage::kMaxSize;
        return false;
    }
    if (FirmwareImage::check(file.readAll()) != FirmwareImage::Problem::None) {
        reader.problem(Problem::ImageFailsCheck, key).file = step.image;
        return false;
    }
    return true;
}

bool readParameters(StepReader &reader, RecipeStep &step)
{
    const QString valuesKey = QStringLiteral("values");
    const QString fileKey = QStringLiteral("file");
    if (!reader.onlyKeys({QStringLiteral("step"), valuesKey, fileKey}))
        return false;
    const bool hasValues = reader.object.contains(valuesKey);
    const bool hasFile = reader.object.contains(fileKey);
    if (hasValues == hasFile)
        return reader.fail(Problem::ValuesAndFile);
    if (hasFile) {
        if (!reader.path(fileKey, step.backupFile))
            return false;
        DeviceParameters::Backup backup;
        QString why;
        if (!DeviceParameters::readBackup(step.backupFile, backup, why)) {
            RecipeProblem &problem = reader.problem(Problem::BackupUnreadable, fileKey);
            problem.file = step.backupFile;
            problem.reason = why;
            return false;
        }
        step.values = backup.values;
        return true;
    }
    const QJsonValue values = reader.object.value(valuesKey);
    if (!values.isObject() || values.toObject().isEmpty())
        return reader.wrongType(valuesKey, Expected::ParameterObject, values);
    const QJsonObject object = values.toObject();
    // In table order, as a backup file is written, whatever the file's order.
    for (const Parameter &parameter : DeviceParameters::all()) {
        const QJsonValue value = object.value(QLatin1String(parameter.name));
        if (value.isUndefined())
            continue;
        if (!value.isDouble()) {
            reader.wrongType(valuesKey, Expected::Number, value);
            reader.out.name = QLatin1String(parameter.name);
            return false;
        }
        double number = value.toDouble();
        QString why;
        if (!DeviceParameters::fitsRegister(parameter, number, why)) {
            RecipeProblem &problem = reader.problem(Problem::BadParameterValue, valuesKey);
            problem.name = QLatin1String(parameter.name);
            problem.value = number;
            problem.reason = why;
            return false;
        }
        // What the register will hold is the float nearest to the number.
        if (parameter.kind == DeviceParameters::Kind::Float)
            number = double(float(number));
        step.values.append({&parameter, number});
    }
    for (auto it = object.begin(); it != object.end(); ++it)
        if (!DeviceParameters::find(it.key())) {
            reader.problem(Problem::UnknownParameter, valuesKey).name = it.key();
            return false;
        }
    return true;
}

bool readMeasure(StepReader &reader, RecipeStep &step)
{
    const QString secondsKey = QStringLiteral("seconds");
    if (!reader.onlyKeys({QStringLiteral("step"), secondsKey, QStringLiteral("mean"), QStringLiteral("stddev"),
                          QStringLiteral("missed")}))
        return false;
    const QJsonValue seconds = reader.object.value(secondsKey);
    step.seconds = seconds.toDouble();
    if (!seconds.isDouble() || !(step.seconds > 0) || step.seconds > Measurement::kMaxRecipeSeconds) {
        reader.problem(Problem::SecondsOutOfRange, secondsKey).maxSeconds = Measurement::kMaxRecipeSeconds;
        return false;
    }
    step.ticks = Measurement::ticksFor(step.seconds);
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

bool Recipe::read(const QString &path, Recipe &recipe, RecipeProblem &problem)
{
    QFile file(path);
    const bool folder = QFileInfo(path).isDir();
    if (folder || !file.open(QIODevice::ReadOnly)) {
        problem = RecipeProblem();
        problem.kind = Problem::FileUnreadable;
        problem.folder = folder;
        if (!folder)
            problem.reason = file.errorString();
        problem.recipe = path;
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (!parse(bytes, QFileInfo(path).absolutePath(), recipe, problem)) {
        problem.recipe = path;
        return false;
    }
    recipe.path = path;
    return true;
}

bool Recipe::parse(const QByteArray &bytes, const QString &folder, Recipe &recipe, RecipeProblem &problem)
{
    recipe = Recipe();
    problem = RecipeProblem();
    auto fail = [&problem](Problem kind, const QString &key = QString()) -> RecipeProblem & {
        problem.kind = kind;
        problem.key = key;
        return problem;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        position(bytes, parseError.offset, fail(Problem::Syntax));
        problem.reason = parseError.errorString();
        return false;
    }
    if (!document.isObject()) {
        fail(Problem::NotAnObject);
        return false;
    }
    const QJsonObject top = document.object();
    for (auto it = top.begin(); it != top.end(); ++it)
        if (it.key() != QLatin1String("name") && it.key() != QLatin1String("steps")) {
            fail(Problem::UnknownKey, it.key()).allowed = QStringList{QStringLiteral("name"), QStringLiteral("steps")};
            return false;
        }
    const QJsonValue name = top.value(QStringLiteral("name"));
    if (!name.isString() || name.toString().trimmed().isEmpty()) {
        setFound(fail(Problem::WrongType, QStringLiteral("name")), name);
        problem.expected = Expected::NonEmptyString;
        return false;
    }
    recipe.name = name.toString();
    const QJsonValue steps = top.value(QStringLiteral("steps"));
    if (!steps.isArray() || steps.toArray().isEmpty()) {
        setFound(fail(Problem::WrongType, QStringLiteral("steps")), steps);
        problem.expected = Expected::NonEmptyArray;
        return false;
    }

    ParameterValues written;
    const QJsonArray array = steps.toArray();
    for (int i = 0; i < array.size(); ++i) {
        problem.step = i;
        if (!array.at(i).isObject()) {
            setFound(fail(Problem::WrongType), array.at(i));
            problem.expected = Expected::Object;
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
            if (object.contains(QStringLiteral("step")))
                fail(Problem::UnknownStep, QStringLiteral("step")).name = kindText;
            else
                fail(Problem::StepKindMissing, QStringLiteral("step"));
            problem.allowed = kindNames();
            return false;
        }
        RecipeProblem place;
        place.step = i;
        place.stepKind = step.kind;
        StepReader reader(object, place, folder, problem);
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
                ok = reader.fail(Problem::NothingToCompare);
            step.expected = written;
            break;
        }
        if (!ok)
            return false;
        recipe.steps.append(step);
    }
    problem = RecipeProblem();
    recipe.hash = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    return true;
}

} // namespace Station
