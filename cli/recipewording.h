#pragma once

#include "recipe.h"

#include <QString>

// The command line's English words for what the recipe check finds.
namespace Wording {

// "recipe.json: steps[0] (measure): "mean": low 5.05 is above high 4.95".
QString recipeProblem(const Station::RecipeProblem &problem);

// Recipe::read and Recipe::parse, false with the problem in those words.
bool readRecipe(const QString &path, Station::Recipe &recipe, QString &error);
bool parseRecipe(const QByteArray &bytes, const QString &folder, Station::Recipe &recipe, QString &error);

} // namespace Wording
