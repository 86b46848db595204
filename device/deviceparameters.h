#pragma once

#include <QString>
#include <QVector>

#include <cstdint>

// The settings a user reads, writes, backs up and restores, under the
// names the command line and the backup file share. Values travel as double:
// it holds every 16-bit word and every float exactly.
namespace DeviceParameters {

enum class Kind {
    Unsigned16, // one holding register, 0..65535
    Float,      // a register pair holding an IEEE 754 float, high word first
};

struct Parameter
{
    const char *name;
    uint16_t holding;
    Kind kind;
};

// In the order a read-out lists them.
const QVector<Parameter> &all();

// The parameter of that name, or nullptr.
const Parameter *find(const QString &name);

struct ParameterValue
{
    const Parameter *parameter;
    double value;
};
using ParameterValues = QVector<ParameterValue>;

// Reads text typed by a user: a whole number 0..65535 for an unsigned
// register, a finite number that a float can hold for a float pair. On
// failure returns false and says why in error.
bool parseValue(const Parameter &parameter, const QString &text, double &value, QString &error);

// Whether a value (from a file, say) fits the parameter's register.
bool fitsRegister(const Parameter &parameter, double value, QString &error);

// The fewest digits that read back as the same float, '.' as decimal point.
QString shortestText(float value);

// A value as a JSON number that shows as formatValue does: a float's
// shortest text, not its exact binary expansion.
double jsonNumber(const Parameter &parameter, double value);

// Integers as integers, floats with the fewest digits that read back as the
// same float.
QString formatValue(const Parameter &parameter, double value);

// The format's own name and version inside a backup file.
constexpr const char *kBackupFormat = "zetra-parameters";
constexpr int kBackupVersion = 1;

struct Backup
{
    QString revision;
    QString saved;            // ISO 8601, as stored
    ParameterValues values;   // in table order
    bool partial = false;     // saved knowingly without every parameter
};

// Writes the revision and values as a backup file, replacing it only once
// the whole file is written; a partial one says so inside. False with a
// message when it cannot.
bool writeBackup(const QString &path, const QString &revision, const ParameterValues &values, QString &error,
                 bool partial = false);

// Reads and checks a backup file. Refuses another format or version,
// unknown names, values that do not fit their register, malformed JSON and
// an unreadable file; then returns false with a message for the user.
bool readBackup(const QString &path, Backup &backup, QString &error);

} // namespace DeviceParameters
