#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include "io/version.h"

namespace Updater {

// What one metadata reply of the update service offers, judged against the version the caller has.
class Offer {
public:
    enum class Decision {
        None,      // nothing usable in the reply: the check ends without a word
        UpToDate,  // the first valid offer is not newer
        Accepted,  // the first valid offer is newer; url() is the file to fetch
    };

    // Firmware replies: the "firmwares" array, keys "fw_version_<kind>" and "fw_download_url_<kind>".
    [[nodiscard]] static Offer readFirmware(const QByteArray& body, const QString& kind,
                                            const Global::Version& current);
    // Program replies: the "apps" array, keys "latest_app_version" and "app_update_url".
    [[nodiscard]] static Offer readSoftware(const QByteArray& body, const Global::Version& current);

    [[nodiscard]] static Offer read(const QByteArray& body, const QString& array_key,
                                    const QString& version_key, const QString& url_key,
                                    const Global::Version& current);

    [[nodiscard]] Decision decision() const { return m_decision; }
    [[nodiscard]] const Global::Version& version() const { return m_version; }
    [[nodiscard]] const QUrl& url() const { return m_url; }

private:
    Decision m_decision = Decision::None;
    Global::Version m_version;
    QUrl m_url;
};

}  // namespace Updater
