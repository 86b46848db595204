#pragma once

// What every fuzz target shares: one application for the whole run, Qt's
// messages kept off the terminal, a check that stops the run on a broken
// promise, and a scratch folder for the readers that take a file name.

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

// A promise of the code under test that the input broke: reported like a
// sanitizer finding, so libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                                            \
    do {                                                                                                 \
        if (!(condition)) {                                                                              \
            std::fprintf(stderr, "FUZZ_CHECK failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);     \
            std::abort();                                                                                \
        }                                                                                                \
    } while (0)

namespace FuzzSupport {

inline void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // A warning per input would cost more than the input; a fatal one is a finding.
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}

// The device object's timers, Qt's locale and its file code expect an
// application; it lives as long as the run.
inline void startApplication()
{
    static int argc = 1;
    static char name[] = "zetra-fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *const app = new QCoreApplication(argc, argv);
    Q_UNUSED(app);
    qInstallMessageHandler(quietMessages);
}

// A file path in a folder of the run's own, removed at exit.
inline QString scratchFile(const char *fileName)
{
    static QTemporaryDir dir;
    return dir.filePath(QString::fromLatin1(fileName));
}

// Writes bytes to path as they are; false when the file cannot be written.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    FILE *file = std::fopen(path.toLocal8Bit().constData(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file) == size_t(bytes.size());
    return std::fclose(file) == 0 && ok;
}

inline QByteArray take(FuzzedDataProvider &data, size_t maxBytes)
{
    const std::vector<char> bytes = data.ConsumeBytes<char>(data.ConsumeIntegralInRange<size_t>(0, maxBytes));
    return QByteArray(bytes.data(), int(bytes.size()));
}

inline QByteArray rest(FuzzedDataProvider &data)
{
    const std::vector<char> bytes = data.ConsumeRemainingBytes<char>();
    return QByteArray(bytes.data(), int(bytes.size()));
}

} // namespace FuzzSupport
