#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "io/deviceid.h"
#include "io/version.h"

namespace UIMediator {

// Where images are found and what version their names give. Images are opaque: the program never looks
// inside one.
class FirmwareImage {
public:
    // The folder beside the executable first, so that a placed image always wins over the carried one.
    [[nodiscard]] static QStringList searchDirectories();

    // The first "*.dfu" file in the first of the directories whose folder for id holds one, or a null
    // string.
    [[nodiscard]] static QString find(const Io::DeviceId& id, const QStringList& directories);

    // "<prefix>_T<major>.<minor>.<build>.dfu"; the invalid version for any other name. Pure: it does not
    // look at the file system.
    [[nodiscard]] static Global::Version versionFromFileName(const QString& file_name);

    // The invalid version also when no file exists at path.
    [[nodiscard]] static Global::Version version(const QString& path);

    // What the engine says of a downloaded image for a family's receiver or headset: nothing when it
    // would refuse the file for that device, otherwise the major.minor its suffix states, or the invalid
    // version when the suffix leaves the version open.
    [[nodiscard]] static std::optional<Global::Version> checkDownload(const QString& path,
                                                                      const QString& family, bool receiver);
};

}  // namespace UIMediator
