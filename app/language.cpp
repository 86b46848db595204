#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTranslator>

#include <memory>
#include <vector>

// The compiled-in translation lives in a static library: register it even
// when nothing else references its resource object file.
static void initTranslationResources()
{
    Q_INIT_RESOURCE(translations);
}

namespace {

const QString kLanguageKey = QStringLiteral("window/language");
const QString kRussian = QStringLiteral("ru");
const QString kEnglish = QStringLiteral("en");

std::vector<std::unique_ptr<QTranslator>> &installed()
{
    static std::vector<std::unique_ptr<QTranslator>> translators;
    return translators;
}

QString &appliedCode()
{
    static QString code;
    return code;
}

bool load(const QString &file, const QString &folder, QStringList &problems)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(file, folder)) {
        problems << QStringLiteral("%1 not found in %2").arg(file, folder);
        return false;
    }
    QCoreApplication::installTranslator(translator.get());
    installed().push_back(std::move(translator));
    return true;
}

} // namespace

namespace Language {

QStringList available()
{
    return {kRussian, kEnglish};
}

QString fromSystem()
{
    const QLocale::Language system = QLocale::system().language();
    return system == QLocale::Russian || system == QLocale::C ? kRussian : kEnglish;
}

QString remembered()
{
    const QString code = QSettings().value(kLanguageKey).toString();
    return available().contains(code) ? code : QString();
}

void remember(const QString &code)
{
    QSettings().setValue(kLanguageKey, code);
}

QString choose(const QString &option)
{
    if (available().contains(option))
        return option;
    const QString chosen = remembered();
    return chosen.isEmpty() ? fromSystem() : chosen;
}

bool apply(const QString &code, QString *problem)
{
    for (const auto &translator : installed())
        QCoreApplication::removeTranslator(translator.get());
    installed().clear();

    QStringList problems;
    if (code == kEnglish) {
        initTranslationResources();
        load(QStringLiteral("zetra_en"), QStringLiteral(":/translations"), problems);
    } else {
        // Qt's own dialogs, buttons and edit menus; the serial port's errors.
        const QString qtFolder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
        load(QStringLiteral("qtbase_ru"), qtFolder, problems);
        load(QStringLiteral("qtserialport_ru"), qtFolder, problems);
        // The backup file's reasons, written in English for the command line.
        initTranslationResources();
        load(QStringLiteral("zetra_ru"), QStringLiteral(":/translations"), problems);
    }
    // The system's own variant of the language when it speaks it (en_GB
    // dates for a British user), the language's main country otherwise.
    const QLocale system = QLocale::system();
    const QLocale wanted(code == kEnglish ? QLocale::English : QLocale::Russian);
    QLocale::setDefault(system.language() == wanted.language() ? system : wanted);
    appliedCode() = code == kEnglish ? kEnglish : kRussian;
    if (problem)
        *problem = problems.join(QStringLiteral("; "));
    return problems.isEmpty();
}

QString current()
{
    return appliedCode();
}

} // namespace Language
