#include "deviceparameters.h"

#include "registermap.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSaveFile>
#include <QStringList>

#include <charconv>
#include <cmath>
#include <iterator>

namespace DeviceParameters {

namespace {

using namespace RegisterMap;

constexpr double kMaxUnsigned16 = 65535;
// Below this a number rounds to a finite float: FLT_MAX plus half its last
// step. FLT_MAX itself prints as 3.4028235e+38, above FLT_MAX as a double,
// and that text must read back.
constexpr double kFloatRoundsFinite = 0x1.ffffffp127;
// A backup holds a dozen numbers; anything far larger is not one.
constexpr qint64 kMaxBackupBytes = 1 << 20;

QString tr(const char *text)
{
    return QCoreApplication::translate("DeviceParameters", text);
}

QString name(const Parameter &parameter)
{
    return QString::fromLatin1(parameter.name);
}

} // namespace

const QVector<Parameter> &all()
{
    static const QVector<Parameter> table(std::begin(kTable), std::end(kTable));
    return table;
}

const Parameter *find(const QString &parameterName)
{
    for (const Parameter &parameter : all())
        if (parameterName == QLatin1String(parameter.name))
            return &parameter;
    return nullptr;
}

const Parameter *atHolding(uint16_t holding)
{
    for (const Parameter &parameter : all())
        if (parameter.holding == holding)
            return &parameter;
    return nullptr;
}

QString label(const Parameter &parameter)
{
    return tr(parameter.label);
}

bool fitsRegister(const Parameter &parameter, double value, QString &error)
{
    if (!std::isfinite(value)) {
        error = tr("%1: %2 is not a finite number").arg(name(parameter)).arg(value);
        return false;
    }
    if (parameter.kind == Kind::Unsigned16) {
        if (value != std::floor(value) || value < 0 || value > kMaxUnsigned16) {
            error = tr("%1: %2 does not fit an unsigned 16-bit register (a whole number from 0 to 65535)")
                        .arg(name(parameter))
                        .arg(value, 0, 'g', 17);
            return false;
        }
        return true;
    }
    if (std::fabs(value) >= kFloatRoundsFinite) {
        error = tr("%1: %2 is beyond the range of a float").arg(name(parameter)).arg(value, 0, 'g', 17);
        return false;
    }
    return true;
}

bool parseValue(const Parameter &parameter, const QString &text, double &value, QString &error)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    double parsed = 0;
    if (parameter.kind == Kind::Unsigned16) {
        // Digits only: no sign, no exponent, no group separators.
        ok = !trimmed.isEmpty();
        for (const QChar c : trimmed)
            ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (ok) {
            const qulonglong whole = trimmed.toULongLong(&ok);
            ok = ok && whole <= kMaxUnsigned16;
            parsed = static_cast<double>(whole);
        }
        if (!ok) {
            error = tr("%1: '%2' is not a whole number from 0 to 65535").arg(name(parameter), text);
            return false;
        }
    } else {
        parsed = QLocale::c().toDouble(trimmed, &ok);
        if (!ok) {
            error = tr("%1: '%2' is not a number").arg(name(parameter), text);
            return false;
        }
        if (!fitsRegister(parameter, parsed, error))
            return false;
        // What the register will hold is the float nearest to the text.
        parsed = static_cast<double>(static_cast<float>(parsed));
    }
    value = parsed;
    return true;
}

QString shortestText(float value)
{
    char digits[64];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return QString::fromLatin1(digits, static_cast<int>(result.ptr - digits));
}

QString formatValue(const Parameter &parameter, double value)
{
    if (parameter.kind == Kind::Unsigned16)
        return QString::number(static_cast<qulonglong>(value));
    return shortestText(static_cast<float>(value));
}

double jsonNumber(const Parameter &parameter, double value)
{
    return QLocale::c().toDouble(formatValue(parameter, value));
}

bool writeBackup(const QString &path, const QString &revision, const ParameterValues &values, QString &error,
                 bool partial)
{
    QJsonObject parameters;
    for (const ParameterValue &entry : values)
        parameters.insert(name(*entry.parameter), jsonNumber(*entry.parameter, entry.value));
    QJsonObject root;
    root.insert(QStringLiteral("format"), QString::fromLatin1(kBackupFormat));
    root.insert(QStringLiteral("version"), kBackupVersion);
    root.insert(QStringLiteral("revision"), revision);
    const QDateTime now = QDateTime::currentDateTime();
    root.insert(QStringLiteral("saved"), now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate));
    root.insert(QStringLiteral("parameters"), parameters);
    if (partial)
        root.insert(QStringLiteral("partial"), true);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = tr("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        error = tr("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool readBackup(const QString &path, Backup &backup, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = tr("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.size() > kMaxBackupBytes) {
        error = tr("%1 is too large to be a parameter backup").arg(path);
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = tr("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = tr("%1 is not valid JSON (offset %2: %3)").arg(path).arg(parseError.offset).arg(parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        error = tr("%1 is not a parameter backup: no JSON object at the top").arg(path);
        return false;
    }
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != QLatin1String(kBackupFormat)) {
        error = tr("%1 is not a parameter backup: format is not \"%2\"").arg(path, QString::fromLatin1(kBackupFormat));
        return false;
    }
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != kBackupVersion) {
        const QString found = version.isDouble() ? QString::number(version.toDouble()) : tr("none");
        error = tr("%1 has backup version %2; this program reads version %3").arg(path, found).arg(kBackupVersion);
        return false;
    }
    const QJsonValue revision = root.value(QStringLiteral("revision"));
    const QJsonValue saved = root.value(QStringLiteral("saved"));
    if ((!revision.isUndefined() && !revision.isString()) || (!saved.isUndefined() && !saved.isString())) {
        error = tr("%1: \"revision\" and \"saved\" must be text").arg(path);
        return false;
    }
    const QJsonValue parametersValue = root.value(QStringLiteral("parameters"));
    if (!parametersValue.isObject() || parametersValue.toObject().isEmpty()) {
        error = tr("%1 holds no \"parameters\" object with values").arg(path);
        return false;
    }
    const QJsonObject parameters = parametersValue.toObject();

    QStringList unknown;
    for (auto it = parameters.begin(); it != parameters.end(); ++it)
        if (!find(it.key()))
            unknown << it.key();
    if (!unknown.isEmpty()) {
        error = tr("%1 has unknown parameter names: %2").arg(path, unknown.join(QStringLiteral(", ")));
        return false;
    }

    Backup result;
    result.revision = revision.toString();
    result.saved = saved.toString();
    result.partial = root.value(QStringLiteral("partial")).toBool();
    for (const Parameter &parameter : all()) {
        const QJsonValue value = parameters.value(name(parameter));
        if (value.isUndefined())
            continue;
        if (!value.isDouble()) {
            error = tr("%1: the value of %2 is not a number").arg(path, name(parameter));
            return false;
        }
        QString why;
        if (!fitsRegister(parameter, value.toDouble(), why)) {
            error = tr("%1: %2").arg(path, why);
            return false;
        }
        double stored = value.toDouble();
        if (parameter.kind == Kind::Float)
            stored = static_cast<double>(static_cast<float>(stored));
        result.values.append({&parameter, stored});
    }
    backup = result;
    return true;
}

} // namespace DeviceParameters
