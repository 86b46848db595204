#pragma once

#include "modbuscodec.h"
#include "registermap.h"

#include <QString>
#include <QtGlobal>
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
    const char *name;   // on the command line and in the backup file
    uint16_t holding;   // first holding register
    Kind kind;
    double typical;     // what a new unit holds; the simulator starts with it
    // What the window calls it, in Russian; label() gives it in the
    // window's language.
    const char *label;
};

// The one table of parameters, in the order a read-out lists them. The
// register map's block sizes, the command line's names, the backup file's
// keys, the simulator's starting values and the window's names for its
// fields all come from here.
inline constexpr Parameter kTable[] = {
    {"protocol-type", RegisterMap::Holding::ProtType, Kind::Unsigned16, 0,
     QT_TRANSLATE_NOOP("DeviceParameters", "Тип протокола")},
    {"modbus-address", RegisterMap::Holding::AdrMb, Kind::Unsigned16, ModbusCodec::kSlaveAddress,
     QT_TRANSLATE_NOOP("DeviceParameters", "Адрес Modbus")},
    {"fmcw-band", RegisterMap::Holding::FmcwBand, Kind::Unsigned16, 250,
     QT_TRANSLATE_NOOP("DeviceParameters", "Дивиация частоты, МГц")},
    {"power-reduction", RegisterMap::Holding::FreqRed, Kind::Unsigned16, 0,
     QT_TRANSLATE_NOOP("DeviceParameters", "Reduction Tx Power")},
    {"lock-data-size", RegisterMap::Holding::SizeLockData, Kind::Unsigned16, 10,
     QT_TRANSLATE_NOOP("DeviceParameters", "Detector. Size Lock Data")},
    {"th-coef-min", RegisterMap::Holding::DetThCoefMin, Kind::Float, 0.5,
     QT_TRANSLATE_NOOP("DeviceParameters", "Detector. Th_Coef_Min")},
    {"th-coef-max", RegisterMap::Holding::DetThCoefMax, Kind::Float, 1.5,
     QT_TRANSLATE_NOOP("DeviceParameters", "Detector. Th_Coef_Max")},
    {"smooth-coef", RegisterMap::Holding::DetSmthCoef, Kind::Float, 0.25,
     QT_TRANSLATE_NOOP("DeviceParameters", "Detector. Smth_Coef")},
    {"mti-coef", RegisterMap::Holding::DetMtiCoef, Kind::Float, 0.9,
     QT_TRANSLATE_NOOP("DeviceParameters", "Detector. MTI_Coef")},
    {"th-coef-dc", RegisterMap::Holding::DetThCoefDC, Kind::Float, 2.0,
     QT_TRANSLATE_NOOP("DeviceParameters", "Detector. Th_Coef_DC")},
    {"tracker-smooth-coef", RegisterMap::Holding::TrsSmthCoef, Kind::Float, 0.3,
     QT_TRANSLATE_NOOP("DeviceParameters", "Tracker. Smth_Coef")},
};

constexpr int registerCount(Kind kind) { return kind == Kind::Float ? 2 : 1; }

// The parameter starting at that holding register, or nullptr.
constexpr const Parameter *atRegister(uint16_t holding)
{
    for (const Parameter &parameter : kTable)
        if (parameter.holding == holding)
            return &parameter;
    return nullptr;
}

constexpr double typicalValue(uint16_t holding)
{
    for (const Parameter &parameter : kTable)
        if (parameter.holding == holding)
            return parameter.typical;
    return 0;
}

// The table as a list, in the order a read-out lists them.
const QVector<Parameter> &all();

// The parameter of that name, or nullptr.
const Parameter *find(const QString &name);

// The parameter starting at that holding register, as all() and find() give
// it (atRegister points into kTable instead), or nullptr.
const Parameter *atHolding(uint16_t holding);

// What the window calls the parameter, in the language of the installed
// translation.
QString label(const Parameter &parameter);

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
