// Makes firmware images for tests and bench work: valid ones (length a
// multiple of 4, checksum words at the end) and deliberately broken ones.
#include "firmwareimage.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Writes a firmware image of SIZE bytes (payload of random bytes plus the two checksum words).\n"
        "Broken kinds: checksum (last byte changed), length (two bytes cut off), oversize (2 000 000 bytes).");
    parser.addHelpOption();
    parser.addPositionalArgument("OUTPUT", "File to write.");
    parser.addOptions({
        {"size", "Image size in bytes, a multiple of 4 from 8 to 1999996 (default 65536).", "SIZE", "65536"},
        {"seed", "Seed of the random payload (default 1).", "SEED", "1"},
        {"broken", "Make a broken image: checksum, length or oversize.", "KIND"},
    });
    parser.process(app);
    if (parser.positionalArguments().size() != 1)
        parser.showHelp(2);

    bool ok = false;
    qint64 size = parser.value("size").toLongLong(&ok);
    const QString broken = parser.value("broken");
    if (broken == QLatin1String("oversize"))
        size = 2000000;
    else if (!ok || size < FirmwareImage::kTrailerSize || size % 4 != 0 || size > FirmwareImage::kMaxSize) {
        std::fprintf(stderr, "mkimage: --size wants a multiple of 4 from 8 to 1999996\n");
        return 2;
    }
    if (!broken.isEmpty() && broken != QLatin1String("checksum") && broken != QLatin1String("length")
        && broken != QLatin1String("oversize")) {
        std::fprintf(stderr, "mkimage: unknown --broken kind\n");
        return 2;
    }

    QRandomGenerator rng(parser.value("seed").toUInt());
    QByteArray payload(int(size - FirmwareImage::kTrailerSize), '\0');
    for (char &byte : payload)
        byte = char(rng.bounded(256));
    QByteArray image = FirmwareImage::withTrailer(payload);
    if (broken == QLatin1String("checksum"))
        image[image.size() - 1] = char(image.at(image.size() - 1) ^ 0x01);
    else if (broken == QLatin1String("length"))
        image.chop(2);

    QFile out(parser.positionalArguments().first());
    if (!out.open(QIODevice::WriteOnly) || out.write(image) != image.size() || !out.flush()) {
        std::fprintf(stderr, "mkimage: cannot write %s: %s\n", qPrintable(out.fileName()), qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
