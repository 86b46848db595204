#pragma once

#include "recipe.h"
#include "runrecord.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QString>

// How the window words a station's runs: the station view's tiles and the
// records browser say the same things the same way.
class StationWording
{
    Q_DECLARE_TR_FUNCTIONS(StationWording)
public:
    // A step's kind as the records keep it ("selftest"), in the window's language.
    static QString stepName(const QString &kind);
    // The large word of a tile: ГОДЕН / БРАК / ОШИБКА / ПРЕРВАНО, or "идёт".
    static QString outcomeText(Station::Outcome outcome);
    // "mean = 5.2 (4.95 … 5.05)" for each value measured; only those outside
    // their limits when outsideOnly.
    static QString measuredText(const QJsonObject &measured, bool outsideOnly);
    // A tile's or a row's account of a run that did not pass: the step, the
    // values against their limits where a limit was missed, or the reason.
    static QString whyNotPassed(const Station::RunRecord &run);
    // What the recipe check found and where: "шаг 2 (измерение), «mean»:
    // нижняя граница 5,1 выше верхней 4,9". Steps are counted from 1, as
    // the operator counts them in the file.
    static QString recipeProblem(const Station::RecipeProblem &problem);
};
