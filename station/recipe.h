#pragma once

#include "deviceparameters.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// A production recipe: a name and the steps every unit goes through, in
// order. Read and checked whole before any byte is sent, so a mistake in
// the file never leaves a unit half done.
namespace Station {

// Limits [low, high] on one measured value; unset means recorded only.
struct Limit
{
    bool set = false;
    double low = 0;
    double high = 0;

    bool holds(double value) const { return !set || (value >= low && value <= high); }
};

struct RecipeStep
{
    enum class Kind { Flash, Parameters, Save, SelfTest, Measure, Verify };

    Kind kind = Kind::Save;
    int index = 0;                              // place in the recipe, from 0
    QString image;                              // Flash: absolute path, checked
    DeviceParameters::ParameterValues values;   // Parameters: in table order
    QString backupFile;                         // Parameters: the file they came from, if any
    double seconds = 0;                         // Measure
    int ticks = 0;                              // Measure: distance requests
    Limit mean;                                 // Measure, metres
    Limit stddev;                               // Measure, metres
    Limit missed;                               // Measure: unanswered requests
    // Verify: what the recipe wrote before it, the latest value of each.
    DeviceParameters::ParameterValues expected;
};

// "flash", "parameters", "save", "selftest", "measure", "verify".
QString kindName(RecipeStep::Kind kind);

// What is wrong with a recipe, as facts: the kind of mistake, its place in
// the file and the values involved. Each front end words it in its own
// language; the only text kept is the system's own (a file's error, the
// JSON parser's, the device layer's reason a value does not fit).
struct RecipeProblem
{
    enum class Kind {
        None,
        FileUnreadable,     // the recipe file: reason, or folder
        Syntax,             // not JSON: line, column, reason (the parser's)
        NotAnObject,        // the file holds JSON, but not an object
        UnknownKey,         // key is none of allowed (at the top when step < 0)
        WrongType,          // key holds found where expected was due (key missing: found Undefined)
        StepKindMissing,    // a step without "step"; allowed: the step kinds
        UnknownStep,        // "step" is name, none of allowed
        LimitMissing,       // key, a required [low, high]
        LimitMalformed,     // key holds found, not two numbers
        LimitNotFinite,     // key
        LowAboveHigh,       // key: low, high
        LimitNotCounts,     // key: low, high should be whole numbers from 0
        NulInFileName,      // key names a file with a NUL character in it
        ImageUnreadable,    // file: reason, or folder
        ImageTooBig,        // file: size, maxSize
        ImageFailsCheck,    // file: its length or checksum
        ValuesAndFile,      // a parameters step with both "values" and "file", or neither
        BackupUnreadable,   // file: reason (the device layer's)
        UnknownParameter,   // name, in "values"
        BadParameterValue,  // name = value in "values": reason (the device layer's)
        SecondsOutOfRange,  // "seconds" missing, not a number, not above 0 or above maxSeconds
        NothingToCompare,   // a verify step with no parameters step before it
    };
    // What a key should hold, where it holds something else.
    enum class Expected {
        NonEmptyString,     // "name", a file name
        NonEmptyArray,      // "steps"
        Object,             // a step
        ParameterObject,    // "values": parameter names and values
        Number,             // a parameter's value
    };

    Kind kind = Kind::None;
    QString recipe;             // the file, when read from one
    // The place: a step (from 0; -1 at the top) and its kind once known, a key.
    int step = -1;
    std::optional<RecipeStep::Kind> stepKind;
    QString key;
    int line = 0;               // Syntax, from 1
    int column = 0;
    QStringList allowed;        // UnknownKey: the keys taken there; StepKindMissing, UnknownStep: the step kinds
    QString name;               // UnknownStep: as written; UnknownParameter, BadParameterValue: the parameter
    Expected expected = Expected::NonEmptyString;
    QJsonValue::Type found = QJsonValue::Undefined;
    int foundCount = 0;         // elements of the array or members of the object found
    double low = 0;             // LowAboveHigh, LimitNotCounts
    double high = 0;
    double value = 0;           // BadParameterValue
    QString file;               // ImageUnreadable, ImageTooBig, ImageFailsCheck, BackupUnreadable: as resolved
    bool folder = false;        // FileUnreadable, ImageUnreadable: the path names a folder
    qint64 size = 0;            // ImageTooBig
    qint64 maxSize = 0;
    double maxSeconds = 0;      // SecondsOutOfRange
    QString reason;             // the system's own words, where it has some

    bool isNone() const { return kind == Kind::None; }
};

struct Recipe
{
    QString name;
    QString path;       // as given
    QString hash;       // SHA-256 of the file's bytes, hex
    QVector<RecipeStep> steps;

    // Reads and checks a recipe file. False with the problem and its place
    // in the file (line and column, or the step and key) when it is
    // malformed, names an unknown step or parameter, holds a value a
    // register cannot, a limit with low above high, or an image that is
    // missing or fails its check.
    static bool read(const QString &path, Recipe &recipe, RecipeProblem &problem);
    // The same over bytes; relative paths are taken from folder.
    static bool parse(const QByteArray &bytes, const QString &folder, Recipe &recipe, RecipeProblem &problem);
};

} // namespace Station
