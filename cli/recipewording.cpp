#include "recipewording.h"

namespace Wording {

namespace {

using Station::RecipeProblem;
using Problem = RecipeProblem::Kind;
using Expected = RecipeProblem::Expected;

QString jsonType(QJsonValue::Type type)
{
    switch (type) {
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

// What a key held, as far as it matters against what it should have held.
QString found(const RecipeProblem &problem)
{
    if (problem.found == QJsonValue::Array && problem.kind == Problem::LimitMalformed)
        return QStringLiteral("%1 elements").arg(problem.foundCount);
    if (problem.found == QJsonValue::Array && problem.expected == Expected::NonEmptyArray && problem.foundCount == 0)
        return QStringLiteral("an empty array");
    if (problem.found == QJsonValue::Object && problem.expected == Expected::ParameterObject && problem.foundCount == 0)
        return QStringLiteral("an empty object");
    return jsonType(problem.found);
}

QString expected(Expected what)
{
    switch (what) {
    case Expected::NonEmptyString: return QStringLiteral("a non-empty string");
    case Expected::NonEmptyArray: return QStringLiteral("a non-empty array of steps");
    case Expected::Object: return QStringLiteral("an object");
    case Expected::ParameterObject: return QStringLiteral("an object of parameter names and values");
    case Expected::Number: return QStringLiteral("a number");
    }
    return QString();
}

QString quoted(const QString &text)
{
    return QStringLiteral("\"%1\"").arg(text);
}

// The mistake itself, after its step and before any key.
QString what(const RecipeProblem &problem)
{
    const QString joined = problem.allowed.join(QStringLiteral(", "));
    const QString key = quoted(problem.key);
    switch (problem.kind) {
    case Problem::None: break;
    case Problem::FileUnreadable:
        return QStringLiteral("cannot read the recipe %1: %2")
            .arg(problem.recipe, problem.folder ? QStringLiteral("a folder") : problem.reason);
    case Problem::Syntax:
        return QStringLiteral("line %1, column %2: %3")
            .arg(QString::number(problem.line), QString::number(problem.column), problem.reason);
    case Problem::NotAnObject: return QStringLiteral("expected an object with \"name\" and \"steps\"");
    case Problem::UnknownKey:
        if (problem.step < 0) {
            QStringList keys;
            for (const QString &allowed : problem.allowed)
                keys << quoted(allowed);
            return QStringLiteral("unknown key %1 (a recipe has %2)").arg(key, keys.join(QStringLiteral(" and ")));
        }
        return QStringLiteral("unknown key %1 (this step takes %2)").arg(key, joined);
    case Problem::WrongType: {
        const QString text = QStringLiteral("expected %1, found %2").arg(expected(problem.expected), found(problem));
        if (problem.expected == Expected::Number)
            return QStringLiteral("%1: %2: %3").arg(key, quoted(problem.name), text);
        return problem.key.isEmpty() ? text : QStringLiteral("%1: %2").arg(key, text);
    }
    case Problem::StepKindMissing: return QStringLiteral("\"step\" is missing (one of %1)").arg(joined);
    case Problem::UnknownStep: return QStringLiteral("unknown step %1 (one of %2)").arg(quoted(problem.name), joined);
    case Problem::LimitMissing: return QStringLiteral("%1: [low, high] is required").arg(key);
    case Problem::LimitMalformed: return QStringLiteral("%1: expected [low, high], two numbers, found %2").arg(key, found(problem));
    case Problem::LimitNotFinite: return QStringLiteral("%1: the limits must be finite numbers").arg(key);
    case Problem::LowAboveHigh:
        return QStringLiteral("%1: low %2 is above high %3").arg(key, QString::number(problem.low), QString::number(problem.high));
    case Problem::LimitNotCounts: return QStringLiteral("%1: the limits are counts, whole numbers from 0").arg(key);
    case Problem::NulInFileName: return QStringLiteral("%1: a file name cannot hold a NUL character").arg(key);
    case Problem::ImageUnreadable:
        return QStringLiteral("%1: cannot read %2: %3")
            .arg(key, problem.file, problem.folder ? QStringLiteral("a folder") : problem.reason);
    case Problem::ImageTooBig:
        return QStringLiteral("%1: %2 is %3 bytes, more than the %4 a device takes")
            .arg(key, problem.file, QString::number(problem.size), QString::number(problem.maxSize));
    case Problem::ImageFailsCheck: return QStringLiteral("%1: %2 fails the image check (length or checksum)").arg(key, problem.file);
    case Problem::ValuesAndFile: return QStringLiteral("give either \"values\" or \"file\"");
    case Problem::BackupUnreadable:
    case Problem::BadParameterValue: return QStringLiteral("%1: %2").arg(key, problem.reason);
    case Problem::UnknownParameter: return QStringLiteral("%1: unknown parameter %2").arg(key, quoted(problem.name));
    case Problem::SecondsOutOfRange:
        return QStringLiteral("%1: expected a number above 0 and at most %2").arg(key, QString::number(problem.maxSeconds));
    case Problem::NothingToCompare: return QStringLiteral("nothing to compare: no \"parameters\" step comes before it");
    }
    return QString();
}

} // namespace

QString recipeProblem(const RecipeProblem &problem)
{
    QString text = what(problem);
    if (problem.kind == Problem::FileUnreadable)
        return text;
    if (problem.step >= 0) {
        const QString index = QString::number(problem.step);
        const QString step = problem.stepKind ? QStringLiteral("steps[%1] (%2)").arg(index, Station::kindName(*problem.stepKind))
                                              : QStringLiteral("steps[%1]").arg(index);
        text = QStringLiteral("%1: %2").arg(step, text);
    }
    return problem.recipe.isEmpty() ? text : QStringLiteral("%1: %2").arg(problem.recipe, text);
}

bool readRecipe(const QString &path, Station::Recipe &recipe, QString &error)
{
    RecipeProblem problem;
    if (Station::Recipe::read(path, recipe, problem))
        return true;
    error = recipeProblem(problem);
    return false;
}

bool parseRecipe(const QByteArray &bytes, const QString &folder, Station::Recipe &recipe, QString &error)
{
    RecipeProblem problem;
    if (Station::Recipe::parse(bytes, folder, recipe, problem))
        return true;
    error = recipeProblem(problem);
    return false;
}

} // namespace Wording
