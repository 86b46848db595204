#pragma once

#include "recipe.h"
#include "runrecord.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QString>

// How the window words a station's runs: the station view's tiles, the
// records browser, its CSV and a unit's history in the log say the same
// things the same way, in the window's language.
class StationWording
{
    Q_DECLARE_TR_FUNCTIONS(StationWording)
public:
    // A step's kind as the records keep it ("selftest"), in the window's language.
    static QString stepName(const QString &kind);
    // The large word of a tile: ГОДЕН / БРАК / ОШИБКА / ПРЕРВАНО, or "идёт".
    static QString outcomeText(Station::Outcome outcome);
    // A measured quantity or a parameter by the window's name for it:
    // "mean" is "среднее", "fmcw-band" the parameter's label.
    static QString quantityName(const QString &name);
    // "среднее = 5,2 (4,95 … 5,05)" for each value measured; only those
    // outside their limits when outsideOnly. The self-test's verdict reads
    // "исправен" or "неисправен".
    static QString measuredText(const QJsonObject &measured, bool outsideOnly);
    // Why a step or a run did not pass, in words; the system's own text,
    // where the cause holds one, is causeDetail()'s.
    static QString cause(const Station::Cause &cause);
    // The system's own text behind a cause (a port's error), or empty.
    static QString causeDetail(const Station::Cause &cause);
    // A tile's or a row's account of a run that did not pass: the step and
    // its cause.
    static QString whyNotPassed(const Station::RunRecord &run);
    // What the recipe check found and where: "шаг 2 (измерение), «mean»:
    // нижняя граница 5,1 выше верхней 4,9". Steps are counted from 1, as
    // the operator counts them in the file.
    static QString recipeProblem(const Station::RecipeProblem &problem);
};
