#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

// Exit codes a script can act on.
namespace Exit {
constexpr int Done = 0;
constexpr int BadInput = 1;       // usage or bad input; nothing was sent
constexpr int Communication = 2;  // port, silence, refusal, lost port
constexpr int Verdict = 3;        // device says faulty, or a value did not read back
// A stop signal ended the run: the shell's own convention.
constexpr int interrupted(int signalNumber) { return 128 + signalNumber; }
} // namespace Exit

// Where a command's results and messages go: values to stdout, messages to
// stderr; with --json the result is one JSON object on stdout at the end.
class Report
{
public:
    Report(QString command, bool json);

    bool json() const { return jsonMode; }

    // A result line for stdout (plain mode) and a field of the JSON object.
    void line(const QString &text);
    void set(const QString &key, const QJsonValue &value);

    // For a list too long to hold: the fields set so far go out at once
    // and the list under key opens; item() adds to it as each comes, and
    // finish() closes it and adds the rest. Plain lines go out as they come
    // from here on. The JSON stays one document.
    void beginList(const QString &key);
    void item(const QJsonObject &value);
    // An item already written as compact JSON.
    void itemText(const QByteArray &json);

    // A message for the person at the terminal, on stderr at once.
    static void message(const QString &text);

    // Runs once as the command ends, before the results are printed: the
    // line's summary and its JSON object go in there.
    void setFinishing(std::function<void(Report &)> hook) { finishing = std::move(hook); }

    // Ends the command: prints the results (or the JSON object, with the
    // error when there is one) and returns exitCode.
    int finish(int exitCode, const QString &error = QString());

private:
    QString command;
    bool jsonMode;
    QStringList lines;
    QJsonObject object;
    bool listing = false;     // beginList() was called
    bool firstItem = true;
    std::function<void(Report &)> finishing;
};
