#include "stationwording.h"

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
        QString text = QStringLiteral("%1 = %2").arg(it.key(), number(value));
        if (limited)
            text += QStringLiteral(" (%1 … %2)").arg(number(low), number(high));
        parts.append(text);
    }
    return parts.join(QStringLiteral("; "));
}

QString StationWording::whyNotPassed(const Station::RunRecord &run)
{
    if (run.outcome == Station::Outcome::Pass || run.outcome == Station::Outcome::Running)
        return QString();
    QString detail;
    if (run.outcome == Station::Outcome::Fail) {
        for (const Station::StepRecord &step : run.steps)
            if (step.kind == run.failedStep && step.outcome == Station::Outcome::Fail)
                detail = measuredText(step.measured, true);
    }
    if (detail.isEmpty())
        detail = run.reason;
    return QStringLiteral("%1: %2").arg(stepName(run.failedStep), detail);
}
