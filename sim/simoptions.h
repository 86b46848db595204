#pragma once

#include "modelconfig.h"
#include "simserver.h"

#include <QString>
#include <QStringList>

struct SimOptions
{
    ModelConfig model;
    LineConfig line;
    QString link;           // symbolic link to the slave side, if any
    QString flashDump;      // where the written flash goes at exit, if anywhere
    QString stateDump;      // where the holding registers go at exit, if anywhere
    QString distanceLog;    // where each distance answered goes, one a line, if anywhere
};

// Outcome of reading the command line.
enum class ParseResult { Run, Help, Error };

// Reads the command line into `options`; `message` gets the help text or the error.
ParseResult parseOptions(const QStringList &arguments, SimOptions &options, QString &message);
