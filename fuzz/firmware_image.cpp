// The firmware image check: the same bytes judged by the image rules, by
// the device object's update step, and by `zetra-cli flash` before it opens
// the port; all three must agree, and a good image must be one the rules
// would have made.
#include "fuzzsupport.h"

#include "command.h"
#include "firmwareimage.h"
#include "serialtop.h"

#include <memory>

// Calls the device object's image step, the one a firmware update runs
// before it sends a byte.
class FrameProcessingProbe
{
public:
    explicit FrameProcessingProbe(SerialTop &top) : top(top) {}
    // True when the step passed; a failed step throws, as it does to end an update.
    bool imageStepPasses(const QByteArray &image)
    {
        try {
            top._checkFileData(image);
            return true;
        } catch (...) {
            return false;
        }
    }

private:
    SerialTop &top;
};

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    static const QString path = FuzzSupport::scratchFile("image.bin");
    const QByteArray image(reinterpret_cast<const char *>(bytes), int(size));
    const FirmwareImage::Problem problem = FirmwareImage::check(image);
    const bool good = problem == FirmwareImage::Problem::None;

    if (good) {
        FUZZ_CHECK(image.size() >= FirmwareImage::kTrailerSize);
        FUZZ_CHECK(FirmwareImage::withTrailer(image.left(image.size() - FirmwareImage::kTrailerSize)) == image);
    } else if (image.size() % 4 == 0 && image.size() + FirmwareImage::kTrailerSize <= FirmwareImage::kMaxSize) {
        FUZZ_CHECK(FirmwareImage::check(FirmwareImage::withTrailer(image)) == FirmwareImage::Problem::None);
    }

    SerialTop top;
    FrameProcessingProbe probe(top);
    FUZZ_CHECK(probe.imageStepPasses(image) == good);

    FUZZ_CHECK(FuzzSupport::writeFile(path, image));
    Invocation invocation;
    invocation.arguments = QStringList{path};
    QString error;
    const std::unique_ptr<Command> flash = makeFlash();
    FUZZ_CHECK(flash->prepare(invocation, error) == good);
    FUZZ_CHECK(good == error.isEmpty());
    return 0;
}
