#pragma once

#include "runrecord.h"

#include <QJsonObject>
#include <QJsonValue>

// A run as zetra-cli prints it in JSON, the same from `records` and from
// `station`: times in UTC ISO 8601, each step's seconds, and for whatever
// did not pass its cause as facts beside the English reason.
namespace RunJson {

QJsonObject run(const Station::RunRecord &run);
// {"code": …, fields}; null for none.
QJsonValue cause(const Station::Cause &cause);

} // namespace RunJson
