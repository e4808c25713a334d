#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "mediator/firmwareimage.h"

// Any file name may lie in a firmware folder. Besides not crashing, the parser must keep its promises: a
// valid result always has patch 0, and the name, once ".dfu" is taken out (which may join an "_T"), must
// carry "_T".
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString name = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const Global::Version version = UIMediator::FirmwareImage::versionFromFileName(name);
    if (version.isValid()) {
        QString rest = name;
        rest.remove(QStringLiteral(".dfu"));
        if (version.patch() != 0 || !rest.contains(QStringLiteral("_T")))
            std::abort();
    }
    if (version.build() != 0 && !name.contains(QLatin1Char('.')))
        std::abort();
    return 0;
}
