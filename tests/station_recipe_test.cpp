// The recipe reader: a recipe is taken whole or refused with the place of
// its first fault, before any unit is touched.
#include "firmwareimage.h"
#include "recipe.h"
#include "recipewording.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Station::Recipe;
using Station::RecipeProblem;
using Station::RecipeStep;
using Problem = RecipeProblem::Kind;

Q_DECLARE_METATYPE(RecipeProblem::Kind)

class StationRecipeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void wholeRecipeReadsAsWritten();
    void faultsAreRefusedNamingTheirPlace_data();
    void faultsAreRefusedNamingTheirPlace();
    void anUnreadableRecipeIsToldWithTheSystemsReason();

private:
    QTemporaryDir dir;
};

void StationRecipeTest::initTestCase()
{
    QVERIFY(dir.isValid());
    QFile image(dir.filePath("fw.bin"));
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.write(FirmwareImage::withTrailer(QByteArray(1024 - FirmwareImage::kTrailerSize, '\x5a')));
    image.close();
    QFile bad(dir.filePath("bad.bin"));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(1024, '\x5a'));
    bad.close();
    QFile backup(dir.filePath("unit.json"));
    QVERIFY(backup.open(QIODevice::WriteOnly));
    backup.write(R"({"format": "zetra-parameters", "version": 1, "revision": "x", "saved": "2024-01-01T00:00:00Z",
                    "parameters": {"mti-coef": 0.75, "fmcw-band": 255}})");
}

void StationRecipeTest::wholeRecipeReadsAsWritten()
{
    const QByteArray text = R"({"name": "end-of-line", "steps": [
        {"step": "flash", "image": "fw.bin"},
        {"step": "parameters", "values": {"smooth-coef": 0.1, "fmcw-band": 260}},
        {"step": "parameters", "file": "unit.json"},
        {"step": "save"}, {"step": "selftest"},
        {"step": "measure", "seconds": 0.25, "mean": [4.95, 5.05], "stddev": [0, 0.02], "missed": [0, 1]},
        {"step": "verify"}]})";
    Recipe recipe;
    QString error;
    QVERIFY2(Wording::parseRecipe(text, dir.path(), recipe, error), qPrintable(error));
    QCOMPARE(recipe.name, QStringLiteral("end-of-line"));
    QCOMPARE(recipe.steps.size(), 7);
    QCOMPARE(recipe.hash.size(), 64);
    // A relative image is the recipe's neighbour.
    QCOMPARE(recipe.steps.at(0).image, dir.filePath("fw.bin"));
    // Values in table order, a float as the register will hold it.
    const RecipeStep &values = recipe.steps.at(1);
    QCOMPARE(values.values.size(), 2);
    QCOMPARE(QLatin1String(values.values.at(0).parameter->name), QLatin1String("fmcw-band"));
    QCOMPARE(values.values.at(1).value, double(0.1f));
    const RecipeStep &measure = recipe.steps.at(5);
    QCOMPARE(measure.ticks, 3);
    QVERIFY(measure.mean.set && measure.mean.low == 4.95 && measure.mean.high == 5.05);
    QVERIFY(measure.missed.set && measure.missed.holds(1) && !measure.missed.holds(2));
    // Verify expects the latest value of each parameter written before it:
    // the backup's fmcw-band replaces the inline one.
    QMap<QString, double> expected;
    for (const auto &entry : recipe.steps.at(6).expected)
        expected.insert(QLatin1String(entry.parameter->name), entry.value);
    QCOMPARE(expected.size(), 3);
    QCOMPARE(expected.value("fmcw-band"), 255.0);
    QCOMPARE(expected.value("mti-coef"), double(0.75f));
    QCOMPARE(expected.value("smooth-coef"), double(0.1f));
}

void StationRecipeTest::faultsAreRefusedNamingTheirPlace_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("why");
    // The same as facts: the kind of mistake, the step (-1: the top) and its kind, the key.
    QTest::addColumn<RecipeProblem::Kind>("kind");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("stepKind");
    QTest::addColumn<QString>("key");
    QTest::newRow("syntax") << QByteArray("{\"name\": \"x\",\n \"steps\": [ {\"step\": \"save\"} ,, ]}")
                            << "line 2, column" << ""
        << Problem::Syntax << -1 << QString() << QString();
    QTest::newRow("no name") << QByteArray(R"({"steps": [{"step": "save"}]})") << "\"name\"" << ""
        << Problem::WrongType << -1 << QString() << QString("name");
    QTest::newRow("no steps") << QByteArray(R"({"name": "x", "steps": []})") << "\"steps\"" << "empty"
        << Problem::WrongType << -1 << QString() << QString("steps");
    QTest::newRow("unknown step") << QByteArray(R"({"name": "x", "steps": [{"step": "save"}, {"step": "bake"}]})")
                                  << "steps[1]" << "unknown step \"bake\""
        << Problem::UnknownStep << 1 << QString() << QString("step");
    QTest::newRow("unknown key") << QByteArray(R"({"name": "x", "steps": [{"step": "measure", "seconds": 1,
                                      "mean": [0, 1], "stdev": [0, 1]}]})")
                                 << "steps[0] (measure)" << "unknown key \"stdev\""
        << Problem::UnknownKey << 0 << QString("measure") << QString("stdev");
    QTest::newRow("unknown parameter")
        << QByteArray(R"({"name": "x", "steps": [{"step": "parameters", "values": {"fmcw-bandwidth": 1}}]})")
        << "steps[0] (parameters)" << "unknown parameter \"fmcw-bandwidth\""
        << Problem::UnknownParameter << 0 << QString("parameters") << QString("values");
    QTest::newRow("value too big")
        << QByteArray(R"({"name": "x", "steps": [{"step": "save"}, {"step": "parameters", "values": {"fmcw-band": 70000}}]})")
        << "steps[1] (parameters)" << "fmcw-band: 70000 does not fit"
        << Problem::BadParameterValue << 1 << QString("parameters") << QString("values");
    QTest::newRow("value a string")
        << QByteArray(R"({"name": "x", "steps": [{"step": "parameters", "values": {"fmcw-band": "260"}}]})")
        << "steps[0] (parameters)" << "expected a number"
        << Problem::WrongType << 0 << QString("parameters") << QString("values");
    QTest::newRow("low above high")
        << QByteArray(R"({"name": "x", "steps": [{"step": "measure", "seconds": 1, "mean": [5.05, 4.95], "stddev": [0, 1]}]})")
        << "steps[0] (measure)" << "\"mean\": low 5.05 is above high 4.95"
        << Problem::LowAboveHigh << 0 << QString("measure") << QString("mean");
    QTest::newRow("limit not a pair")
        << QByteArray(R"({"name": "x", "steps": [{"step": "measure", "seconds": 1, "mean": [5], "stddev": [0, 1]}]})")
        << "steps[0] (measure)" << "\"mean\": expected [low, high]"
        << Problem::LimitMalformed << 0 << QString("measure") << QString("mean");
    QTest::newRow("missed not whole")
        << QByteArray(R"({"name": "x", "steps": [{"step": "measure", "seconds": 1, "mean": [0, 9], "stddev": [0, 1],
                         "missed": [0, 1.5]}]})")
        << "steps[0] (measure)" << "\"missed\""
        << Problem::LimitNotCounts << 0 << QString("measure") << QString("missed");
    QTest::newRow("no seconds")
        << QByteArray(R"({"name": "x", "steps": [{"step": "measure", "mean": [0, 9], "stddev": [0, 1]}]})")
        << "steps[0] (measure)" << "\"seconds\""
        << Problem::SecondsOutOfRange << 0 << QString("measure") << QString("seconds");
    QTest::newRow("missing image") << QByteArray(R"({"name": "x", "steps": [{"step": "flash", "image": "nope.bin"}]})")
                                   << "steps[0] (flash)" << "nope.bin"
        << Problem::ImageUnreadable << 0 << QString("flash") << QString("image");
    QTest::newRow("image fails its check")
        << QByteArray(R"({"name": "x", "steps": [{"step": "flash", "image": "bad.bin"}]})") << "steps[0] (flash)"
        << "fails the image check"
        << Problem::ImageFailsCheck << 0 << QString("flash") << QString("image");
    QTest::newRow("image name with a NUL")
        << QByteArray("{\"name\": \"x\", \"steps\": [{\"step\": \"flash\", \"image\": \"fw.bin\\u0000x\"}]}")
        << "steps[0] (flash)" << "NUL"
        << Problem::NulInFileName << 0 << QString("flash") << QString("image");
    QTest::newRow("backup name with a NUL")
        << QByteArray("{\"name\": \"x\", \"steps\": [{\"step\": \"parameters\", \"file\": \"unit.json\\u0000\"}]}")
        << "steps[0] (parameters)" << "NUL"
        << Problem::NulInFileName << 0 << QString("parameters") << QString("file");
    QTest::newRow("missing backup")
        << QByteArray(R"({"name": "x", "steps": [{"step": "parameters", "file": "gone.json"}]})")
        << "steps[0] (parameters)" << "gone.json"
        << Problem::BackupUnreadable << 0 << QString("parameters") << QString("file");
    QTest::newRow("values and file")
        << QByteArray(R"({"name": "x", "steps": [{"step": "parameters", "file": "unit.json", "values": {"fmcw-band": 1}}]})")
        << "steps[0] (parameters)" << "either"
        << Problem::ValuesAndFile << 0 << QString("parameters") << QString();
    QTest::newRow("verify with nothing written") << QByteArray(R"({"name": "x", "steps": [{"step": "verify"}]})")
                                                 << "steps[0] (verify)" << "nothing to compare"
        << Problem::NothingToCompare << 0 << QString("verify") << QString();
    QTest::newRow("not an object") << QByteArray("[1, 2]") << "" << "expected an object with \"name\" and \"steps\""
                                   << Problem::NotAnObject << -1 << QString() << QString();
    QTest::newRow("unknown top key") << QByteArray(R"({"name": "x", "steps": [{"step": "save"}], "version": 2})")
                                     << "unknown key \"version\"" << "(a recipe has \"name\" and \"steps\")"
                                     << Problem::UnknownKey << -1 << QString() << QString("version");
    QTest::newRow("step not an object") << QByteArray(R"({"name": "x", "steps": [{"step": "save"}, "save"]})")
                                        << "steps[1]: " << "expected an object, found a string"
                                        << Problem::WrongType << 1 << QString() << QString();
    QTest::newRow("step without its kind") << QByteArray(R"({"name": "x", "steps": [{"image": "fw.bin"}]})")
                                           << "steps[0]: " << "\"step\" is missing (one of flash, parameters,"
                                           << Problem::StepKindMissing << 0 << QString() << QString("step");
    QTest::newRow("stddev missing")
        << QByteArray(R"({"name": "x", "steps": [{"step": "save"}, {"step": "measure", "seconds": 1, "mean": [0, 1]}]})")
        << "steps[1] (measure)" << "\"stddev\": [low, high] is required"
        << Problem::LimitMissing << 1 << QString("measure") << QString("stddev");
    QTest::newRow("image a folder")
        << QByteArray(R"({"name": "x", "steps": [{"step": "flash", "image": "."}]})") << "steps[0] (flash)" << "a folder"
        << Problem::ImageUnreadable << 0 << QString("flash") << QString("image");
}

void StationRecipeTest::faultsAreRefusedNamingTheirPlace()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, place);
    QFETCH(QString, why);
    QFETCH(RecipeProblem::Kind, kind);
    QFETCH(int, step);
    QFETCH(QString, stepKind);
    QFETCH(QString, key);
    const QString path = dir.filePath("recipe.json");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    Recipe recipe;
    RecipeProblem problem;
    QVERIFY(!Recipe::read(path, recipe, problem));
    const QString error = Wording::recipeProblem(problem);
    QVERIFY2(error.startsWith(path + QStringLiteral(": ")), qPrintable(error));
    QVERIFY2(error.contains(place), qPrintable(error));
    QVERIFY2(error.contains(why), qPrintable(error));
    QCOMPARE(problem.kind, kind);
    QCOMPARE(problem.recipe, path);
    QCOMPARE(problem.step, step);
    QCOMPARE(problem.stepKind ? Station::kindName(*problem.stepKind) : QString(), stepKind);
    QCOMPARE(problem.key, key);
    // The values a front end words it with, where there are some.
    if (kind == Problem::Syntax)
        QVERIFY(problem.line == 2 && problem.column > 1 && !problem.reason.isEmpty());
    if (kind == Problem::LowAboveHigh)
        QVERIFY(problem.low == 5.05 && problem.high == 4.95);
    if (kind == Problem::UnknownKey && step >= 0)
        QVERIFY(problem.allowed.contains("stddev") && !problem.allowed.contains("stdev"));
    if (kind == Problem::UnknownParameter || kind == Problem::BadParameterValue)
        QVERIFY(!problem.name.isEmpty() && error.contains(problem.name));
    if (kind == Problem::BadParameterValue)
        QVERIFY(problem.value == 70000 && !problem.reason.isEmpty());
}

// The file itself: the system's words for why it cannot be read, and no
// place inside it.
void StationRecipeTest::anUnreadableRecipeIsToldWithTheSystemsReason()
{
    Recipe recipe;
    RecipeProblem problem;
    const QString missing = dir.filePath("nowhere.json");
    QVERIFY(!Recipe::read(missing, recipe, problem));
    QCOMPARE(problem.kind, Problem::FileUnreadable);
    QCOMPARE(problem.step, -1);
    QVERIFY(!problem.folder && !problem.reason.isEmpty());
    QCOMPARE(Wording::recipeProblem(problem), QStringLiteral("cannot read the recipe %1: %2").arg(missing, problem.reason));
    QVERIFY(!Recipe::read(dir.path(), recipe, problem));
    QVERIFY(problem.kind == Problem::FileUnreadable && problem.folder);
    QCOMPARE(Wording::recipeProblem(problem), QStringLiteral("cannot read the recipe %1: a folder").arg(dir.path()));
}

QTEST_GUILESS_MAIN(StationRecipeTest)
#include "station_recipe_test.moc"
