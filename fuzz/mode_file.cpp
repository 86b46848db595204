// The info.txt reader that picks the window's tabs: only its first line
// counts, whatever the bytes.
#include "fuzzsupport.h"

#include "uimode.h"

#include <QBuffer>

namespace {

UiMode modeOf(QByteArray bytes)
{
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    return uiModeFromFile(file);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(bytes), int(size));
    const UiMode mode = modeOf(contents);
    // What follows the first line changes nothing.
    const int end = contents.indexOf('\n');
    if (end >= 0)
        FUZZ_CHECK(modeOf(contents.left(end + 1)) == mode);
    // A mode other than the default names itself in the file.
    if (mode == UiMode::Elevated)
        FUZZ_CHECK(contents.contains("|Elevated"));
    if (mode == UiMode::Assemblage)
        FUZZ_CHECK(contents.contains("|Assemblage"));
    return 0;
}
