#pragma once

#include "heightrecorder.h"
#include "heightstatistics.h"
#include "requestoutcome.h"

#include <QObject>
#include <QTimer>
#include <QVector>

class SerialTop;

namespace Measurement {
// A distance request every period, in the window and on the command line.
constexpr int kPeriodMs = 100;
// Distance requests in a measurement of that many seconds: one a period,
// at least one.
int ticksFor(double seconds);
// A device that leaves this many of its requests in a row unanswered has
// stopped answering; fewer are a noisy line, counted and measured through.
// zetra-cli measure and the station's measure step both end there.
constexpr int kMissesInARow = 3;
// The longest measurement each front end takes, apart on purpose: zetra-cli
// measure may watch a unit on the bench for a day (drift, warm-up), while
// a recipe's measure step holds a place on the line, where anything past an
// hour is a mistake in the file (milliseconds typed as seconds), not a test.
constexpr double kMaxCommandLineSeconds = 86400;
constexpr double kMaxRecipeSeconds = 3600;
} // namespace Measurement

// One measurement as the window and the command line run it: a distance
// request every Measurement::kPeriodMs, the readings and their statistics,
// the recording of every reading, and the rules that end a run.
//
// Lives in the caller's thread and talks to the device object, which lives
// in its own, through queued calls and signals only. Whether a tick sends
// anything is the device object's call: while the previous tick's distance
// read still waits its turn in the ring, the tick is skipped there, so a
// slow device never lets the ticks pile up.
class MeasurementSession : public QObject
{
    Q_OBJECT
public:
    // Why a run ended.
    enum class End {
        Stopped,         // stop() without a reason of its own: the user, an update, the window closing
        Elapsed,         // the ticks asked for were sent and their answers are in, or no longer awaited
        Interrupted,     // a stop signal
        LineLost,        // the port went away or was closed
        Unanswered,      // too many of its requests in a row unanswered or refused
        RequestFailed,   // one of its requests failed otherwise (the ring full)
        RecorderFailed,  // a row could not be written
    };
    Q_ENUM(End)

    // What ends a run besides stop() and a lost line. The defaults are the
    // window's: it measures until stopped, whatever single requests do.
    struct Rules
    {
        int ticks = 0;                     // ticks to send before ending as Elapsed; 0: no limit
        int unansweredInARow = 0;          // own requests missed in a row that end a run; 0: none do
        bool requestFailureEnds = false;   // an own request refused by the engine (the ring full) ends it
        bool recorderFailureEnds = false;  // a failed row ends the run, not only the recording
    };

    // After the last tick of a bounded run, how long the answers still
    // queued may take. A tick the device object skipped never answers, so
    // this wait ends by time unless every tick is accounted for.
    static constexpr int kDrainMs = 2500;

    explicit MeasurementSession(SerialTop *device, QObject *parent = nullptr);
    MeasurementSession(SerialTop *device, const Rules &rules, QObject *parent = nullptr);
    ~MeasurementSession() override;

    // Sends the first request at once and one every period after it.
    // Readings, statistics and a recording already started are kept.
    void start();
    // Ends a running run with that reason; nothing when none runs.
    void stop(End why = End::Stopped);
    bool isRunning() const { return running; }
    bool hasEnded() const { return ended; }
    End endReason() const { return lastEnd; }
    // The request failure behind LineLost, Unanswered or RequestFailed.
    const RequestOutcome &endCause() const { return lastCause; }

    // Every reading is kept for the statistics until clearReadings(); with a
    // limit, the reading after that many starts them anew, as the window's
    // curve does.
    void setReadingLimit(int limit) { readingLimit = limit; }
    const QVector<double> &readings() const { return kept; }
    // Of the readings kept, and the own requests missed since the last clear.
    HeightStatistics statistics() const;
    int missed() const { return missedCount; }
    // Misses since the latest reading.
    int missedInARow() const { return missesInARow; }
    int ticksSent() const { return sent; }
    void clearReadings();

    // Records every reading of this run to a CSV file (HeightRecorder); the
    // recording ends with the run at the latest.
    bool startRecording(const QString &path);
    // False when a row of this recording could not be written.
    bool stopRecording();
    bool isRecording() const { return recorder.isRecording(); }
    const HeightRecorder &recording() const { return recorder; }

signals:
    // A distance, in metres, as the device sent it; the statistics have it.
    void reading(double metres);
    // A row could not be written; recording().errorString() says why. The run
    // ends with RecorderFailed only when the rules say so; the file is closed.
    void recordingFailed();
    // Emitted once per run. A front end that words the end of a recording
    // stops it here; a recording still open afterwards is closed.
    void finished(MeasurementSession::End why, const RequestOutcome &cause);

private:
    void tick();
    void takeDistance(float metres);
    void takePeriod(float period);
    void takeFailure(const RequestOutcome &outcome);
    void takeLineLoss(const RequestOutcome &outcome);
    void checkDrained();
    void recordFailed();
    void finish(End why, const RequestOutcome &cause = RequestOutcome());
    static bool isOwnRequest(const RequestOutcome &outcome);

    SerialTop *const top;
    Rules runRules;
    QTimer ticker;
    QTimer drain;
    HeightRecorder recorder;
    QVector<double> kept;
    int readingLimit = 0;
    bool running = false;
    bool draining = false;
    bool ended = false;
    End lastEnd = End::Stopped;
    RequestOutcome lastCause;
    int sent = 0;
    int periods = 0;         // of this run
    int missedThisRun = 0;
    int missedCount = 0;     // since the last clear
    int missesInARow = 0;
};
