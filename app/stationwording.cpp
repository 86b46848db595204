#include "stationwording.h"

#include "deviceparameters.h"
#include "serialtop.h"

#include <QLocale>
#include <QStringList>

QString StationWording::stepName(const QString &kind)
{
    if (kind == QLatin1String("flash"))
        return tr("прошивка");
    if (kind == QLatin1String("parameters"))
        return tr("запись параметров");
    if (kind == QLatin1String("save"))
        return tr("сохранение во флэш");
    if (kind == QLatin1String("selftest"))
        return tr("самопроверка");
    if (kind == QLatin1String("measure"))
        return tr("измерение");
    if (kind == QLatin1String("verify"))
        return tr("проверка параметров");
    if (kind == QLatin1String("connect"))
        return tr("подключение");
    if (kind == QLatin1String("read-out"))
        return tr("чтение после шагов");
    return kind;
}

QString StationWording::outcomeText(Station::Outcome outcome)
{
    switch (outcome) {
    case Station::Outcome::Pass: return tr("ГОДЕН");
    case Station::Outcome::Fail: return tr("БРАК");
    case Station::Outcome::Error: return tr("ОШИБКА");
    case Station::Outcome::Interrupted: return tr("ПРЕРВАНО");
    case Station::Outcome::Running: break;
    }
    return tr("идёт");
}

QString StationWording::quantityName(const QString &name)
{
    static const struct {
        const char *name;
        const char *text;
    } quantities[] = {
        {"mean", QT_TR_NOOP("среднее")},       {"stddev", QT_TR_NOOP("СКО")},
        {"min", QT_TR_NOOP("минимум")},        {"max", QT_TR_NOOP("максимум")},
        {"count", QT_TR_NOOP("измерений")},    {"missed", QT_TR_NOOP("пропущено")},
        {"distance", QT_TR_NOOP("расстояние")}, {"healthy", QT_TR_NOOP("самопроверка")},
        {"bytes", QT_TR_NOOP("байт записано")}, {"revision", QT_TR_NOOP("версия ПО")},
    };
    for (const auto &entry : quantities)
        if (name == QLatin1String(entry.name))
            return tr(entry.text);
    if (const DeviceParameters::Parameter *parameter = DeviceParameters::find(name))
        return DeviceParameters::label(*parameter);
    return name;
}

QString StationWording::measuredText(const QJsonObject &measured, bool outsideOnly)
{
    const QLocale locale;
    auto number = [&locale](double value) { return locale.toString(value, 'g', 6); };
    QStringList parts;
    for (auto it = measured.begin(); it != measured.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        const double value = entry.value(QLatin1String("value")).toDouble();
        const bool limited = entry.contains(QLatin1String("low")) && entry.contains(QLatin1String("high"));
        const double low = entry.value(QLatin1String("low")).toDouble();
        const double high = entry.value(QLatin1String("high")).toDouble();
        if (outsideOnly && (!limited || (value >= low && value <= high)))
            continue;
        // The verdict is a yes or a no, not a number against its limits.
        if (it.key() == QLatin1String("healthy")) {
            parts.append(QStringLiteral("%1: %2").arg(quantityName(it.key()), value != 0 ? tr("исправен") : tr("неисправен")));
            continue;
        }
        QString text = QStringLiteral("%1 = %2").arg(quantityName(it.key()), number(value));
        if (limited)
            text += QStringLiteral(" (%1 … %2)").arg(number(low), number(high));
        parts.append(text);
    }
    return parts.join(QStringLiteral("; "));
}

namespace {

QString firmwareStage(const Station::Cause &cause)
{
    QString stage = cause.text("stage");
    if (stage == QLatin1String("file"))
        return StationWording::tr("чтение файла прошивки");
    if (stage == QLatin1String("image"))
        return StationWording::tr("проверка образа прошивки");
    if (stage == QLatin1String("revision"))
        return StationWording::tr("чтение версии ПО");
    if (stage == QLatin1String("programming_mode"))
        return StationWording::tr("переход в режим программирования");
    if (stage == QLatin1String("flash_check"))
        return StationWording::tr("проверка флэш-памяти");
    if (stage == QLatin1String("erase"))
        return StationWording::tr("стирание флэш-памяти");
    if (stage == QLatin1String("program"))
        return StationWording::tr("запись блока 0x%1").arg(qint64(cause.number("offset")), 8, 16, QLatin1Char('0'));
    if (stage == QLatin1String("flag"))
        return StationWording::tr("запись флага прошивки");
    return stage;
}

QString noCompleteFirmware(const Station::Cause &cause)
{
    return cause.fields.value(QLatin1String("complete")).toBool(true)
               ? QString()
               : StationWording::tr("; в изделии нет полной прошивки, пока обновление не пройдёт до конца");
}

} // namespace

QString StationWording::cause(const Station::Cause &cause)
{
    using Code = Station::Cause::Code;
    RequestOutcome request;
    if (cause.toRequest(request)) {
        // The request's words are the main log's; the system's text is the detail's.
        request.portError.clear();
        QString text = SerialTop::describe(request);
        if (cause.code == Code::NotReadBack || cause.has("parameter"))
            text = QStringLiteral("%1: %2").arg(quantityName(cause.text("parameter")), text);
        if (cause.has("in_a_row"))
            text += tr(", запросов подряд: %1").arg(cause.number("in_a_row"));
        return text;
    }
    const QLocale locale;
    switch (cause.code) {
    case Code::None:
        return QString();
    case Code::Limit:
        return tr("%1 = %2 вне допуска (%3 … %4)")
            .arg(quantityName(cause.text("quantity")), locale.toString(cause.number("value"), 'g', 6),
                 locale.toString(cause.number("low"), 'g', 6), locale.toString(cause.number("high"), 'g', 6));
    case Code::DeviceFault:
        return cause.text("fault") == QLatin1String("selftest") ? tr("неисправен") : tr("устройство сообщает о сбое");
    case Code::PortOpen: {
        const QString reason = cause.text("reason");
        const QString port = cause.text("port");
        if (reason == QLatin1String("missing"))
            return tr("порт %1 не найден: адаптер не подключён?").arg(port);
        if (reason == QLatin1String("denied"))
            return tr("нет прав на доступ к порту %1").arg(port);
        if (reason == QLatin1String("busy"))
            return tr("порт %1 уже открыт другой программой").arg(port);
        return tr("не удалось открыть порт %1").arg(port);
    }
    case Code::Firmware: {
        const Station::Cause inner = cause.inner();
        return QStringLiteral("%1: %2%3").arg(firmwareStage(cause),
                                              inner.isNone() ? tr("устройство сообщает о сбое") : StationWording::cause(inner),
                                              noCompleteFirmware(cause));
    }
    case Code::NoData:
        return tr("не получено ни одного значения: %1").arg(quantityName(cause.text("quantity")));
    case Code::TimedOut: {
        const QString waiting = cause.text("waiting");
        if (waiting == QLatin1String("connect"))
            return tr("подключение не завершилось вовремя");
        if (waiting == QLatin1String("report"))
            return tr("чтение параметров не завершилось вовремя");
        return tr("устройство не завершило шаг вовремя");
    }
    case Code::Interrupted:
        return (cause.text("by") == Station::Cause::kBySignal ? tr("остановлено сигналом") : tr("остановлено оператором"))
               + noCompleteFirmware(cause);
    case Code::Abandoned:
        return tr("станция остановилась до конца прогона: программа была завершена или пропало питание");
    case Code::Records:
        return tr("запись в журнал изделий не удалась");
    case Code::Text:
        return cause.text("text");
    case Code::NotReadBack:
    case Code::NoAnswer:
    case Code::Refused:
    case Code::PortLost:
    case Code::PortClosed:
    case Code::QueueFull:
        break;
    }
    return cause.codeName();
}

QString StationWording::causeDetail(const Station::Cause &cause)
{
    return cause.text("error");
}

QString StationWording::whyNotPassed(const Station::RunRecord &run)
{
    if (run.outcome == Station::Outcome::Pass || run.outcome == Station::Outcome::Running)
        return QString();
    return QStringLiteral("%1: %2").arg(stepName(run.failedStep), cause(run.cause));
}

namespace {

using Station::RecipeProblem;
using Problem = RecipeProblem::Kind;
using Expected = RecipeProblem::Expected;

// What a key held instead of what it should have.
QString foundText(const RecipeProblem &problem)
{
    switch (problem.found) {
    case QJsonValue::Undefined: return StationWording::tr("ключа нет");
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Bool: return StationWording::tr("логическое значение");
    case QJsonValue::Double: return StationWording::tr("число");
    case QJsonValue::String:
        return problem.expected == Expected::NonEmptyString ? StationWording::tr("пустая строка")
                                                             : StationWording::tr("строка");
    case QJsonValue::Array:
        return problem.foundCount == 0 ? StationWording::tr("пустой список")
                                       : StationWording::tr("список, элементов: %1").arg(problem.foundCount);
    case QJsonValue::Object:
        return problem.foundCount == 0 ? StationWording::tr("пустой объект") : StationWording::tr("объект");
    }
    return QString();
}

QString expectedText(Expected expected)
{
    switch (expected) {
    case Expected::NonEmptyString: return StationWording::tr("ожидалась непустая строка");
    case Expected::NonEmptyArray: return StationWording::tr("ожидался непустой список шагов");
    case Expected::Object: return StationWording::tr("ожидался объект шага");
    case Expected::ParameterObject: return StationWording::tr("ожидался объект с именами и значениями параметров");
    case Expected::Number: return StationWording::tr("ожидалось число");
    }
    return QString();
}

// The mistake itself, after its place.
QString problemText(const RecipeProblem &problem)
{
    const QLocale locale;
    auto number = [&locale](double value) { return locale.toString(value, 'g', 6); };
    const QString allowed = problem.allowed.join(QStringLiteral(", "));
    switch (problem.kind) {
    case Problem::None: break;
    case Problem::FileUnreadable:
        return problem.folder ? StationWording::tr("это папка, а не файл")
                              : StationWording::tr("файл не читается: %1").arg(problem.reason);
    case Problem::Syntax:
        return StationWording::tr("строка %1, столбец %2: ошибка JSON: %3")
            .arg(QString::number(problem.line), QString::number(problem.column), problem.reason);
    case Problem::NotAnObject: return StationWording::tr("ожидался объект JSON с ключами «name» и «steps»");
    case Problem::UnknownKey: return StationWording::tr("неизвестный ключ «%1» (допустимы: %2)").arg(problem.key, allowed);
    case Problem::WrongType: {
        const QString text = StationWording::tr("%1, найдено: %2").arg(expectedText(problem.expected), foundText(problem));
        return problem.expected == Expected::Number ? StationWording::tr("параметр «%1»: %2").arg(problem.name, text) : text;
    }
    case Problem::StepKindMissing: return StationWording::tr("не указан «step» (один из: %1)").arg(allowed);
    case Problem::UnknownStep: return StationWording::tr("неизвестный шаг «%1» (один из: %2)").arg(problem.name, allowed);
    case Problem::LimitMissing: return StationWording::tr("нужны границы [нижняя, верхняя]");
    case Problem::LimitMalformed:
        return StationWording::tr("ожидались границы [нижняя, верхняя], два числа, найдено: %1").arg(foundText(problem));
    case Problem::LimitNotFinite: return StationWording::tr("границы должны быть конечными числами");
    case Problem::LowAboveHigh:
        return StationWording::tr("нижняя граница %1 выше верхней %2").arg(number(problem.low), number(problem.high));
    case Problem::LimitNotCounts: return StationWording::tr("границы — количества, целые числа от 0");
    case Problem::NulInFileName: return StationWording::tr("имя файла содержит символ NUL");
    case Problem::ImageUnreadable:
        return problem.folder ? StationWording::tr("%1 — папка, а не файл прошивки").arg(problem.file)
                              : StationWording::tr("файл прошивки %1 не читается: %2").arg(problem.file, problem.reason);
    case Problem::ImageTooBig:
        return StationWording::tr("файл прошивки %1 занимает %2 байт, больше %3, которые принимает прибор")
            .arg(problem.file, locale.toString(problem.size), locale.toString(problem.maxSize));
    case Problem::ImageFailsCheck:
        return StationWording::tr("файл прошивки %1 не проходит проверку (длина или контрольная сумма)").arg(problem.file);
    case Problem::ValuesAndFile: return StationWording::tr("нужно указать либо «values», либо «file»");
    case Problem::BackupUnreadable: return StationWording::tr("файл параметров %1 не принят: %2").arg(problem.file, problem.reason);
    case Problem::UnknownParameter: return StationWording::tr("неизвестный параметр «%1»").arg(problem.name);
    // The device layer's reason names the parameter and the value.
    case Problem::BadParameterValue: return problem.reason;
    case Problem::SecondsOutOfRange:
        return StationWording::tr("ожидалось число секунд больше 0 и не больше %1").arg(number(problem.maxSeconds));
    case Problem::NothingToCompare: return StationWording::tr("сравнивать не с чем: до этого шага нет шага «parameters»");
    }
    return QString();
}

} // namespace

QString StationWording::recipeProblem(const RecipeProblem &problem)
{
    QStringList place;
    if (problem.step >= 0)
        place << (problem.stepKind ? tr("шаг %1 (%2)").arg(QString::number(problem.step + 1),
                                                             stepName(Station::kindName(*problem.stepKind)))
                                   : tr("шаг %1").arg(problem.step + 1));
    // Where the message names the key itself, it is not said twice.
    const bool keyInText =
        problem.kind == Problem::UnknownKey || problem.kind == Problem::StepKindMissing || problem.kind == Problem::UnknownStep;
    if (!problem.key.isEmpty() && !keyInText)
        place << tr("«%1»").arg(problem.key);
    const QString text = problemText(problem);
    return place.isEmpty() ? text : QStringLiteral("%1: %2").arg(place.join(QStringLiteral(", ")), text);
}
