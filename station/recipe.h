#pragma once

#include "deviceparameters.h"

#include <QByteArray>
#include <QString>
#include <QVector>

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

struct Recipe
{
    QString name;
    QString path;       // as given
    QString hash;       // SHA-256 of the file's bytes, hex
    QVector<RecipeStep> steps;

    // Reads and checks a recipe file. False with a message naming the place
    // in the file (line and column, or the step and key) when it is
    // malformed, names an unknown step or parameter, holds a value a
    // register cannot, a limit with low above high, or an image that is
    // missing or fails its check.
    static bool read(const QString &path, Recipe &recipe, QString &error);
    // The same over bytes; relative paths are taken from folder.
    static bool parse(const QByteArray &bytes, const QString &folder, Recipe &recipe, QString &error);
};

// The longest measurement a recipe may ask for.
constexpr double kMaxMeasureSeconds = 3600;

} // namespace Station
