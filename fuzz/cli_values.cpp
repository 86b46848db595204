// The command line's values: `set NAME=VALUE...`, `get NAME...`,
// `measure --seconds N` and `raw --type T`, checked before a port is
// opened. A value taken must fit its register and read back as itself
// once printed.
#include "fuzzsupport.h"

#include "command.h"
#include "deviceparameters.h"

#include <QStringList>

#include <memory>

using namespace DeviceParameters;

namespace {

// parseValue's promise: what it takes, the register holds, and the text
// the program prints for it reads back as the same value.
void checkValue(const Parameter &parameter, const QString &text)
{
    double value = 0;
    QString error;
    if (!parseValue(parameter, text, value, error)) {
        FUZZ_CHECK(!error.isEmpty());
        return;
    }
    QString why;
    FUZZ_CHECK(fitsRegister(parameter, value, why));
    if (parameter.kind == Kind::Float)
        FUZZ_CHECK(value == double(float(value)));
    const QString printed = formatValue(parameter, value);
    double again = -1;
    FUZZ_CHECK(parseValue(parameter, printed, again, error));
    FUZZ_CHECK(again == value);
    // The JSON number is the printed text's own value, the same float.
    const double json = jsonNumber(parameter, value);
    FUZZ_CHECK(parameter.kind == Kind::Float ? float(json) == float(value) : json == value);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzSupport::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    static const QString csv = FuzzSupport::scratchFile("out.csv");
    FuzzedDataProvider data(bytes, size);
    const int which = data.ConsumeIntegralInRange<int>(0, 3);
    const QStringList arguments = QString::fromUtf8(FuzzSupport::rest(data)).split(QLatin1Char('\n'));

    Invocation invocation;
    std::unique_ptr<Command> command;
    switch (which) {
    case 0:
        command = makeSet();
        invocation.arguments = arguments;
        for (const QString &argument : arguments) {
            const int equals = argument.indexOf(QLatin1Char('='));
            const Parameter *parameter = equals > 0 ? find(argument.left(equals)) : nullptr;
            if (parameter)
                checkValue(*parameter, argument.mid(equals + 1));
        }
        break;
    case 1:
        command = makeGet();
        invocation.arguments = arguments;
        break;
    case 2:
        command = makeMeasure();
        invocation.seconds = arguments.first();
        break;
    default:
        command = makeRaw();
        invocation.type = arguments.first();
        invocation.csv = csv;
        break;
    }
    QString error;
    const bool ok = command->prepare(invocation, error);
    FUZZ_CHECK(ok == error.isEmpty());
    // The first line tried as a value of every parameter, of either kind.
    if (which == 0)
        for (const Parameter &parameter : all())
            checkValue(parameter, arguments.first());
    return 0;
}
