#pragma once

#include <QByteArray>
#include <QString>

#include "tools/updateservice/httpserver.h"

// Serves the update service's paths from a folder:
//   firmware/<model>/<revision>.json   firmware offers for one model and device revision ("1.0.0")
//   firmware/<model>.json              firmware offers for every other revision of the model
//   apps/<platform>.json               program offers for a platform word ("windows", "mac")
//   files/<name>                       the offered files, at <base>/files/<name>
// "{base}" in a JSON file is replaced by the server's own base URL, so a catalog works on any port.
class Catalog {
public:
    explicit Catalog(const QString& folder);

    [[nodiscard]] HttpServer::Response answer(const QByteArray& target, const QString& base_url) const;

    // Writes a catalog that offers receiver firmware version to model, with image as its file
    // (copied under the name <model>_Dongle_T<version>.dfu). An empty image path writes a generated one.
    [[nodiscard]] static bool writeDemo(const QString& folder, const QString& model, const QString& version,
                                        const QString& image, QString* error);

private:
    [[nodiscard]] HttpServer::Response json(const QString& path, const QString& base_url) const;

    QString m_folder;
};
