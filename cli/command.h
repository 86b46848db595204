#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class DeviceSession;
class QCommandLineOption;
class QCommandLineParser;
class LineTrace;
class Report;

// What the command line asked for, as parsed; a command checks its part.
struct Invocation
{
    QString port;
    QStringList arguments;  // after the command's name
    QString seconds;        // --seconds, empty when not given
    QString csv;            // --csv
    QString type;           // --type
    bool partial = false;   // --partial
};

// One command: everything the user gave is checked in prepare(), before the
// port is opened, so bad input never sends a byte.
class Command
{
public:
    virtual ~Command() = default;
    // False with a message for the user when the input cannot be used.
    virtual bool prepare(const Invocation &invocation, QString &error) = 0;
    // Runs against the connected device; returns the exit code.
    virtual int run(DeviceSession &session, Report &report) = 0;
};

struct CommandInfo
{
    const char *name;
    const char *synopsis;       // for --help
    QStringList options;        // command options it takes: seconds, csv, type
    std::unique_ptr<Command> (*make)();
};

// Every command, in the order --help lists them.
const QVector<CommandInfo> &commands();

// The factories, one per source file's commands.
std::unique_ptr<Command> makeInfo();
std::unique_ptr<Command> makeGet();
std::unique_ptr<Command> makeSet();
std::unique_ptr<Command> makeSave();
std::unique_ptr<Command> makeBackup();
std::unique_ptr<Command> makeRestore();
std::unique_ptr<Command> makeSelfTest();
std::unique_ptr<Command> makeMeasure();
std::unique_ptr<Command> makeRaw();
std::unique_ptr<Command> makeFlash();

// records reads the station's record file, never the line: its options
// (beside --csv and --json), and the command, run without a port.
QList<QCommandLineOption> recordsOptions();
int runRecords(const QCommandLineParser &parser, bool json);
// report reads the records too: a line's quality over the runs its filter
// selects. Its parts apart, so that other outputs can be added beside them.
int runReport(const QCommandLineParser &parser, bool json);
namespace Station { struct QualityReport; struct RecordFilter; }
class RecordStore;
bool computeQualityReport(RecordStore &store, const Station::RecordFilter &filter, Station::QualityReport &report,
                          QString &error);
void setQualityJson(const Station::QualityReport &quality, Report &report);
void printQualityText(const Station::QualityReport &quality, Report &report);
// station runs many ports at once and has no single device session.
struct StationInvocation
{
    QStringList arguments;      // the recipe file
    QStringList ports;          // --port, in order
    QStringList serials;        // --serial, one per port
    QString records;            // --records, empty for the default store
    QString station;            // --station
    QString operatorName;       // --operator
    bool json = false;
    bool trace = false;
    QString traceFile;
};
int runStation(const StationInvocation &invocation, LineTrace &trace);

// For a command that takes no arguments.
bool noArguments(const Invocation &invocation, QString &error);

// A file the command will write: its folder must exist and be writable.
bool checkOutputFile(const QString &path, QString &error);
