// Firmware update against a faulty line and a misbehaving device: every fault
// kind placed on every step of the update. Whatever happens, the device must
// never be told the firmware is valid unless its flash holds the image byte
// for byte, and the log must tell one failure, on the step that failed.
//
// Faults drawn at random take the run's seed, printed at start; ZETRA_SEED=S
// replays them.
//
// The cells of one test function run side by side, each with its own
// simulator and device thread: a failing cell spends most of its time in the
// one-second answer time-out, so running them one after another would only
// wait longer.
#include "deviceharness.h"
#include "firmwareimage.h"
#include "linesettings.h"
#include "modbuscodec.h"
#include "simprocess.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

namespace {

const QString kNoAnswer = QStringLiteral("ошибка! Нет ответа от устройства!");

const QString kRevisionPrompt = QStringLiteral("Получение текущей версии ПО... ");
const QString kProgModePrompt = QStringLiteral("Перевод устройства в режим программирования... ");
const QString kFlashPrompt = QStringLiteral("Проверка доступа и ID микросхемы FLASH... ");
const QString kErasePrompt = QStringLiteral("Cтирание текущего ПО... ");
const QString kProgramPrompt = QStringLiteral("Программирование... ");
const QString kFlagPrompt = QStringLiteral("Запись флага прошивки... ");

// 15 full blocks and a last one of 4 bytes.
constexpr int kImageSize = 15 * 256 + 4;
constexpr int kBlocks = 16;

// The requests as the simulator counts them: the address reset and the
// connection probe first, then the update with the erase ready at its first
// poll (--erase-ms 0).
struct Step
{
    const char *name;
    int request;
    QByteArray frameStart; // first bytes of that request, hex as the verbose log writes them
    QString prompt;
    const char *refused;   // how a refusal of that request names it
};

const Step kSteps[] = {
    {"revision", 3, "13 03 00 12 00 12", kRevisionPrompt, "функция 03, регистр 18"},
    {"programming mode", 4, "13 05 00 03 ff 00", kProgModePrompt, "функция 05, катушка 3"},
    {"flash check", 5, "13 05 00 08 ff 00", kFlashPrompt, "функция 05, катушка 8"},
    {"flash identity read", 6, "13 04 00 06 00 02", kFlashPrompt, "функция 04, регистр 6"},
    {"erase", 7, "13 05 00 05 ff 00", kErasePrompt, "функция 05, катушка 5"},
    {"erase poll", 8, "13 04 00 06 00 02", kErasePrompt, "функция 04, регистр 6"},
    {"first block", 9, "13 42 01 00 00 00 00 00", kProgramPrompt, "функция 42"},
    {"middle block", 16, "13 42 01 00 00 00 07 00", kProgramPrompt, "функция 42"},
    {"last block", 9 + kBlocks - 1, "13 42 00 04 00 00 0f 00", kProgramPrompt, "функция 42"},
    {"firmware flag", 9 + kBlocks, "13 05 00 06 ff 00", kFlagPrompt, "функция 05, катушка 6"},
};

struct Cell
{
    QString name;
    QStringList options;
    bool succeeds = false;
    QString redLine;
    QString prompt;
    int faultedRequest = 0;     // request the fault must land on, 0 when none
    QByteArray frameStart;
    QByteArray nextLogLine;     // what the verbose log must show right after that request
};

// One cell on its way: its simulator, its device object, what it reported.
struct Run
{
    Cell cell;
    QString dump;
    QVector<bool> outcomes;     // firmwareUpdateFinished, in the test's thread; outlives the device
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<DeviceHarness> device;
};

} // namespace

class FirmwareFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void droppedRequestAtEveryStep();
    void corruptAnswerAtEveryStep();
    void refusedRequestAtEveryStep();
    void strayBytesAtEveryStepCostNothing();
    void deviceFailingAStep();
    void splitAndLateAnswersStillSucceed();

private:
    // What a cell expects of a step, given the step.
    using Expectation = std::function<void(const Step &, Cell &)>;
    QVector<Cell> lineFaultCells(const char *option, const QByteArray &note, const Expectation &expect) const;
    void runCells(const QVector<Cell> &cells);
    QStringList check(Run &run) const;

    QTemporaryDir dir;
    QByteArray image;
    QString imagePath;
};

void FirmwareFaultsTest::initTestCase()
{
    QVERIFY(dir.isValid());
    QRandomGenerator rng(2024);
    QByteArray payload(kImageSize - FirmwareImage::kTrailerSize, '\0');
    for (char &byte : payload)
        byte = char(rng.bounded(256));
    image = FirmwareImage::withTrailer(payload);
    QCOMPARE(image.size(), kImageSize);
    imagePath = dir.filePath("image.bin");
    QFile file(imagePath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(image), qint64(image.size()));
}

// One cell per step: the fault every Nth request or answer, N being the
// step's request, so the first one lands on that step.
QVector<Cell> FirmwareFaultsTest::lineFaultCells(const char *option, const QByteArray &note,
                                                const Expectation &expect) const
{
    QVector<Cell> cells;
    for (const Step &step : kSteps) {
        Cell cell;
        cell.name = QString::fromLatin1(step.name);
        cell.options = QStringList{QString::fromLatin1(option), QString::number(step.request)};
        cell.redLine = kNoAnswer;
        cell.prompt = step.prompt;
        cell.faultedRequest = step.request;
        cell.frameStart = step.frameStart;
        cell.nextLogLine = note;
        expect(step, cell);
        cells << cell;
    }
    return cells;
}

void FirmwareFaultsTest::runCells(const QVector<Cell> &cells)
{
    std::vector<Run> runs(size_t(cells.size()));
    for (int i = 0; i < cells.size(); ++i) {
        Run &run = runs[size_t(i)];
        run.cell = cells[i];
        run.dump = dir.filePath(QStringLiteral("flash-%1-%2.bin").arg(QTest::currentTestFunction()).arg(i));
        run.sim = std::make_unique<SimProcess>(SimProcess::seeded(
            run.cell.options + QStringList{"--erase-ms", "0", "--flash-dump", run.dump, "--verbose"}));
        QVERIFY2(run.sim->isRunning(), qPrintable(run.cell.name));
        run.device = std::make_unique<DeviceHarness>();
        // Queued into this thread behind the device's log lines, so a seen
        // outcome comes with every line emitted before it.
        QVector<bool> *outcomes = &run.outcomes;
        connect(run.device->top, &SerialTop::firmwareUpdateFinished, run.device.get(),
                [outcomes](bool success) { *outcomes << success; }, Qt::QueuedConnection);
        run.device->top->connectToDevice(run.sim->portName(), Line::kBaudRate);
    }
    QVERIFY(waitUntil(
        [&] {
            for (const Run &run : runs)
                if (run.device->connectedStates.isEmpty())
                    return false;
            return true;
        },
        30000));
    for (Run &run : runs) {
        QVERIFY2(run.device->connectedStates.first(), qPrintable(run.cell.name));
        run.device->top->firmwareUpdate(imagePath);
    }
    QVERIFY(waitUntil(
        [&] {
            for (const Run &run : runs)
                if (run.outcomes.isEmpty())
                    return false;
            return true;
        },
        60000));

    QStringList failures;
    for (Run &run : runs)
        for (const QString &problem : check(run))
            failures << QStringLiteral("%1: %2").arg(run.cell.name, problem);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
}

QStringList FirmwareFaultsTest::check(Run &run) const
{
    QStringList problems;
    const Cell &cell = run.cell;
    const DeviceHarness &device = *run.device;
    if (run.sim->stop() != 0)
        problems << QStringLiteral("simulator did not exit cleanly");
    const QByteArray flashed = readFile(run.dump);
    const QByteArray flag = readFile(run.dump + ".flag").trimmed();
    const bool success = run.outcomes.first();

    // The device must not be told the firmware is valid unless it holds it.
    if (flag != "set" && flag != "unset")
        problems << QStringLiteral("no flag in the flash dump");
    if (flag == "set" && flashed != image)
        problems << QStringLiteral("firmware flag set over a flash that differs from the image (%1 of %2 bytes)")
                        .arg(flashed.size())
                        .arg(image.size());
    if (success && flag != "set")
        problems << QStringLiteral("reported success, but the flag is not set");
    if (run.outcomes.size() != 1)
        problems << QStringLiteral("%1 outcomes for one update").arg(run.outcomes.size());
    if (success != cell.succeeds)
        problems << (success ? QStringLiteral("reported success") : QStringLiteral("reported failure"));

    const QStringList reds = device.redLines();
    if (cell.succeeds) {
        if (!reds.isEmpty())
            problems << QStringLiteral("red lines: %1").arg(reds.join(" | "));
    } else {
        if (reds != QStringList{cell.redLine})
            problems << QStringLiteral("red lines: %1").arg(reds.join(" | "));
        // The mark closes the failing step's line and nothing follows it.
        if (device.updaterLog.isEmpty() || device.updaterLog.last().text != cell.redLine) {
            problems << QStringLiteral("the red mark is not the last line of the log");
        } else {
            int prompt = device.updaterLog.size() - 2;
            while (prompt >= 0 && !device.updaterLog[prompt].newLine)
                --prompt;
            const QString promptText = prompt >= 0 ? device.updaterLog[prompt].text : QString();
            if (promptText != cell.prompt)
                problems << QStringLiteral("failed on \"%1\" instead of \"%2\"").arg(promptText, cell.prompt);
        }
    }

    // The fault landed where the cell says: on the intended request.
    if (cell.faultedRequest > 0) {
        const QList<QByteArray> lines = run.sim->errorOutput().split('\n');
        int requests = 0;
        int at = -1;
        for (int i = 0; i < lines.size() && at < 0; ++i)
            if (lines[i].startsWith("rx ") && ++requests == cell.faultedRequest)
                at = i;
        if (at < 0 || !lines[at].mid(3).startsWith(cell.frameStart)) {
            problems << QStringLiteral("request %1 is not %2").arg(cell.faultedRequest).arg(QString(cell.frameStart));
        } else if (!cell.nextLogLine.isEmpty()) {
            const QByteArray next = at + 1 < lines.size() ? lines[at + 1] : QByteArray();
            if (!next.startsWith(cell.nextLogLine))
                problems << QStringLiteral("after request %1 the simulator logged \"%2\"")
                                .arg(cell.faultedRequest)
                                .arg(QString(next));
            else if (cell.nextLogLine == "tx "
                     && ModbusCodec::crcValid(QByteArray::fromHex(next.mid(3).replace(' ', ""))))
                problems << QStringLiteral("answer %1 went out with a valid CRC").arg(cell.faultedRequest);
        }
    }
    return problems;
}

void FirmwareFaultsTest::droppedRequestAtEveryStep()
{
    runCells(lineFaultCells("--drop", "# request dropped", [](const Step &, Cell &) {}));
}

void FirmwareFaultsTest::corruptAnswerAtEveryStep()
{
    // Answers count like requests here: every request is answered.
    runCells(lineFaultCells("--corrupt", "tx ", [](const Step &, Cell &) {}));
}

void FirmwareFaultsTest::refusedRequestAtEveryStep()
{
    // The step's line says what the device refused and why.
    runCells(lineFaultCells("--exception", "# request refused", [](const Step &step, Cell &cell) {
        cell.redLine = QStringLiteral("ошибка! Устройство отклонило запрос (%1): код 04, сбой устройства")
                           .arg(QString::fromUtf8(step.refused));
    }));
}

void FirmwareFaultsTest::strayBytesAtEveryStepCostNothing()
{
    // Line noise in front of an answer costs nothing.
    runCells(lineFaultCells("--stray", "stray 00 ff", [](const Step &, Cell &cell) { cell.succeeds = true; }));
}

void FirmwareFaultsTest::deviceFailingAStep()
{
    auto cell = [](const QString &step, const QString &redLine, const QString &prompt) {
        Cell c;
        c.name = step;
        c.options = QStringList{"--fail-step", step};
        c.redLine = redLine;
        c.prompt = prompt;
        return c;
    };
    // An erase that never ends takes the full 30 s time-out; it has its own test.
    runCells({
        cell("progmode", kNoAnswer, kProgModePrompt),
        cell("flashid", QStringLiteral("ошибка! Ошибка чтения ID Flash"), kFlashPrompt),
        cell("block:1", kNoAnswer, kProgramPrompt),
        cell("block:8", kNoAnswer, kProgramPrompt),
        cell(QStringLiteral("block:%1").arg(kBlocks), kNoAnswer, kProgramPrompt),
        cell("flag", kNoAnswer, kFlagPrompt),
    });
}

void FirmwareFaultsTest::splitAndLateAnswersStillSucceed()
{
    auto cell = [](const QString &name, const QStringList &options) {
        Cell c;
        c.name = name;
        c.options = options;
        c.succeeds = true;
        return c;
    };
    runCells({
        cell("every answer split", {"--split", "1"}),
        cell("every other answer split", {"--split", "2"}),
        cell("answers 150 ms late", {"--reply-delay", "150"}),
        cell("split, late, at wire speed", {"--split", "1", "--reply-delay", "20", "--line-rate"}),
        // Drawn from the run's seed: where an answer is cut, what noise
        // comes before it, how long the device takes short of the time-out.
        cell("split anywhere, random noise, random delays",
             {"--split", "0.5", "--split-at", "1-40", "--stray", "0.3", "--stray-bytes", "1-16", "--reply-delay",
              "0-40"}),
        cell("answers up to 700 ms late, split, at wire speed",
             {"--reply-delay", "0-700", "--split", "0.3", "--split-at", "1-12", "--line-rate"}),
    });
}

QTEST_GUILESS_MAIN(FirmwareFaultsTest)
#include "firmware_faults_test.moc"
