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
    const QString stage = cause.text("stage");
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
