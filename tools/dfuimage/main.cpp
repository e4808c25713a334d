#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

#include "hiddfu/dfusuffix.h"
#include "tools/dfuimage/imagebuilder.h"

using HidDfu::DfuSuffix;
using HidDfu::ImageBuilder;

namespace {

QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

bool parseId(const QString& text, std::uint16_t* out) {
    bool ok = false;
    const uint value = text.toUInt(&ok, 0);
    if (!ok || value == 0 || value > 0xffff)
        return false;
    *out = static_cast<std::uint16_t>(value);
    return true;
}

int make(const QCommandLineParser& parser) {
    ImageBuilder builder;
    if (!parseId(parser.value("vendor"), &builder.vendorId) ||
        !parseId(parser.value("product"), &builder.productId)) {
        err() << "dfuimage: --vendor and --product take a 16-bit id such as 0x046d\n";
        return 2;
    }
    const QStringList version = parser.value("version").split('.');
    bool okMajor = false;
    bool okMinor = false;
    if (version.size() != 2 ||
        !DfuSuffix::toBcd(version[0].toUInt(&okMajor), version[1].toUInt(&okMinor), &builder.bcdDevice) ||
        !okMajor || !okMinor) {
        err() << "dfuimage: --version takes major.minor, each 0 to 99\n";
        return 2;
    }
    bool ok = false;
    const qulonglong size = parser.value("size").toULongLong(&ok, 0);
    if (!ok || size <= DfuSuffix::kSize || size > 256ull * 1024 * 1024) {
        err() << "dfuimage: --size takes the file size in bytes, more than 16\n";
        return 2;
    }
    builder.seed = parser.value("seed").toULongLong(&ok, 0);
    if (!ok) {
        err() << "dfuimage: --seed takes a number\n";
        return 2;
    }
    if (parser.positionalArguments().size() != 2) {
        err() << "dfuimage: make needs exactly one output file\n";
        return 2;
    }
    const std::vector<std::uint8_t> image = builder.build(static_cast<std::size_t>(size));
    QSaveFile out(parser.positionalArguments().at(1));
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size())) !=
            static_cast<qint64>(image.size()) ||
        !out.commit()) {
        err() << "dfuimage: cannot write " << out.fileName() << ": " << out.errorString() << "\n";
        return 1;
    }
    return 0;
}

int inspect(const QCommandLineParser& parser) {
    if (parser.positionalArguments().size() != 2) {
        err() << "dfuimage: inspect needs exactly one image file\n";
        return 2;
    }
    QFile file(parser.positionalArguments().at(1));
    if (!file.open(QIODevice::ReadOnly)) {
        err() << "dfuimage: cannot read " << file.fileName() << ": " << file.errorString() << "\n";
        return 1;
    }
    const QByteArray data = file.readAll();
    DfuSuffix suffix;
    const DfuSuffix::Error error = DfuSuffix::read(reinterpret_cast<const std::uint8_t*>(data.constData()),
                                                   std::size_t(data.size()), &suffix);
    QTextStream out(stdout);
    out << "file: " << file.fileName() << "\n"
        << "size: " << data.size() << "\n"
        << "suffix: " << DfuSuffix::errorText(error) << "\n";
    if (error != DfuSuffix::Error::None)
        return 1;
    unsigned major = 0;
    unsigned minor = 0;
    const QString version = DfuSuffix::fromBcd(suffix.bcdDevice, &major, &minor)
                                ? QStringLiteral("%1.%2").arg(major).arg(minor)
                                : "?";
    out << "vendor: 0x" << QString::number(suffix.vendorId, 16).rightJustified(4, '0') << "\n"
        << "product: 0x" << QString::number(suffix.productId, 16).rightJustified(4, '0') << "\n"
        << "version: " << version << " (bcdDevice 0x"
        << QString::number(suffix.bcdDevice, 16).rightJustified(4, '0') << ")\n"
        << "dfu: 0x" << QString::number(suffix.bcdDfu, 16).rightJustified(4, '0') << "\n";
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("dfuimage");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Makes and inspects firmware images: opaque payload followed by a USB DFU file suffix.\n"
        "  dfuimage make --vendor ID --product ID --version M.m --size BYTES [--seed N] OUT\n"
        "  dfuimage inspect FILE");
    parser.addHelpOption();
    parser.addPositionalArgument("command", "make or inspect");
    parser.addOptions({
        {"vendor", "Vendor id of the device's update-mode identity.", "id"},
        {"product", "Product id of the device's update-mode identity.", "id"},
        {"version", "Image version major.minor, stored as BCD.", "version"},
        {"size", "Size of the whole file in bytes, suffix included.", "bytes"},
        {"seed", "Seed of the payload; the same seed gives the same image.", "n", "1"},
    });
    parser.process(app);
    const QString command = parser.positionalArguments().value(0);
    if (command == "make")
        return make(parser);
    if (command == "inspect")
        return inspect(parser);
    err() << "dfuimage: unknown command '" << command << "'\n";
    parser.showHelp(2);
}
