// The production recipe reader: any file given to `zetra-cli station`.
// What it accepts must be whole: every step known, every value fitting its
// register, every limit ordered, every image and backup file readable.
#include "fuzzsupport.h"

#include "firmwareimage.h"
#include "measurementsession.h"
#include "recipe.h"
#include "recipewording.h"

#include <QFileInfo>

using Station::Recipe;
using Station::RecipeProblem;
using Station::RecipeStep;

// Qt 5's JSON parser leaks an object member that a later member of the
// same name replaces; see backup_file.cpp.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:QJsonDocument::fromJson\n";
}

extern "C" const char *__asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication();
    // What a recipe may name beside it: an image and a backup file.
    FuzzSupport::writeFile(FuzzSupport::scratchFile("fw.bin"),
                           FirmwareImage::withTrailer(QByteArray(256 - FirmwareImage::kTrailerSize, '\x11')));
    FuzzSupport::writeFile(FuzzSupport::scratchFile("unit.json"),
                           R"({"format": "zetra-parameters", "version": 1, "revision": "x",
                               "saved": "2024-01-01T00:00:00Z", "parameters": {"fmcw-band": 250}})");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    static const QString folder = QFileInfo(FuzzSupport::scratchFile("fw.bin")).absolutePath();
    Recipe recipe;
    RecipeProblem problem;
    if (!Recipe::parse(QByteArray(reinterpret_cast<const char *>(bytes), int(size)), folder, recipe, problem)) {
        FUZZ_CHECK(!problem.isNone());
        FUZZ_CHECK(!Wording::recipeProblem(problem).isEmpty());
        return 0;
    }
    FUZZ_CHECK(problem.isNone());
    FUZZ_CHECK(!recipe.name.isEmpty());
    FUZZ_CHECK(!recipe.steps.isEmpty());
    FUZZ_CHECK(recipe.hash.size() == 64);
    bool written = false;
    for (int i = 0; i < recipe.steps.size(); ++i) {
        const RecipeStep &step = recipe.steps.at(i);
        FUZZ_CHECK(step.index == i);
        FUZZ_CHECK(!Station::kindName(step.kind).isEmpty());
        for (const auto &entry : step.values) {
            QString why;
            FUZZ_CHECK(DeviceParameters::fitsRegister(*entry.parameter, entry.value, why));
        }
        switch (step.kind) {
        case RecipeStep::Kind::Flash:
            FUZZ_CHECK(QFileInfo(step.image).isFile());
            break;
        case RecipeStep::Kind::Parameters:
            FUZZ_CHECK(!step.values.isEmpty());
            written = true;
            break;
        case RecipeStep::Kind::Measure:
            FUZZ_CHECK(step.seconds > 0 && step.seconds <= Measurement::kMaxRecipeSeconds && step.ticks >= 1);
            FUZZ_CHECK(step.mean.set && step.mean.low <= step.mean.high);
            FUZZ_CHECK(step.stddev.set && step.stddev.low <= step.stddev.high);
            FUZZ_CHECK(!step.missed.set || (step.missed.low >= 0 && step.missed.low <= step.missed.high));
            break;
        case RecipeStep::Kind::Verify:
            FUZZ_CHECK(written && !step.expected.isEmpty());
            break;
        case RecipeStep::Kind::Save:
        case RecipeStep::Kind::SelfTest:
            break;
        }
    }
    return 0;
}
