// The parameter backup reader: any file given to `zetra-cli restore` or the
// window's "load parameters". What it accepts must fit the registers, and
// must come back the same through a file the program writes itself.
#include "fuzzsupport.h"

#include "deviceparameters.h"

using namespace DeviceParameters;

// Qt 5's JSON parser loses the memory of an object member that a later
// member of the same name replaces ({"p":{"a":1,"b":2},"p":{}} leaks the
// first object), a fault of Qt's own, reproduced without our code. The
// suppression names only leaks allocated inside QJsonDocument::fromJson; Qt
// is built without frame pointers, so the allocation's stack is unwound the
// slow way to reach that name.
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
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    static const QString path = FuzzSupport::scratchFile("backup.json");
    static const QString copyPath = FuzzSupport::scratchFile("copy.json");
    FUZZ_CHECK(FuzzSupport::writeFile(path, QByteArray(reinterpret_cast<const char *>(bytes), int(size))));

    Backup backup;
    QString error;
    if (!readBackup(path, backup, error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    FUZZ_CHECK(!backup.values.isEmpty());
    const Parameter *previous = nullptr;
    for (const ParameterValue &entry : qAsConst(backup.values)) {
        QString why;
        FUZZ_CHECK(fitsRegister(*entry.parameter, entry.value, why));
        // In table order, each parameter once.
        FUZZ_CHECK(entry.parameter > previous);
        previous = entry.parameter;
        formatValue(*entry.parameter, entry.value);
    }

    FUZZ_CHECK(writeBackup(copyPath, backup.revision, backup.values, error, backup.partial));
    Backup copy;
    FUZZ_CHECK(readBackup(copyPath, copy, error));
    FUZZ_CHECK(copy.revision == backup.revision);
    FUZZ_CHECK(copy.partial == backup.partial);
    FUZZ_CHECK(copy.values.size() == backup.values.size());
    for (int i = 0; i < copy.values.size(); ++i) {
        FUZZ_CHECK(copy.values.at(i).parameter == backup.values.at(i).parameter);
        FUZZ_CHECK(copy.values.at(i).value == backup.values.at(i).value);
    }
    return 0;
}
