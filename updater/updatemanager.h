#pragma once

#include <QHashFunctions>
#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "base/smarttype.h"
#include "updater/globalid.h"
#include "updater/minisign.h"
#include "updater/updatedownloader.h"
#include "updater/updaterecord.h"

namespace Updater {

// The user interface's entry to online updates: starts checks and remembers, per model (or platform
// word), the newest file downloaded in this run.
class UpdateManager : public QObject, public Utils::SmartType<UpdateManager> {
    Q_OBJECT

public:
    // Downloads into the per-user application data directory + "/update".
    explicit UpdateManager(QObject* parent = nullptr);
    // Another directory and service, for tests and tools; an empty base URL keeps the default one.
    UpdateManager(const QString& directory, const QString& base_url, QObject* parent = nullptr);
    ~UpdateManager() override;

    [[nodiscard]] static QString defaultDirectory();

    // Whether checkSoftwareUpdate asks the service at all. The program's own manager decides by where it
    // runs from and by its key; one made for tests and tools always asks.
    [[nodiscard]] bool checksProgram() const { return m_programChecks; }
    void setChecksProgram(bool checks) { m_programChecks = checks; }
    // While held, checks wait, in order, and are made when it is released: the program holds them until
    // its window is on screen, so that the network stack starts after the first frame.
    void setHeld(bool held);

    // The key every download must be signed with; defaults to the compiled-in one.
    void setPublicKey(const std::optional<Minisign::PublicKey>& key);
    // What a downloaded firmware image must pass (UpdateDownloader::setFirmwareCheck); none keeps none.
    void setFirmwareCheck(const UpdateDownloader::FirmwareCheck& check);
    // A downloaded image that the engine refused as damaged: every record naming path is forgotten and the
    // file goes with its signature, so the next check downloads it again. A path that no record names
    // (a file the user picked) is left alone. True when something was dropped.
    bool discardDownload(const QString& path);

    Q_INVOKABLE QString getReceiverUpdateVersionString(const QString& _model,
                                                       const QString& _format = QStringLiteral("M.m")) const;
    Q_INVOKABLE QString getReceiverUpdatePath(const QString& _model) const;
    Q_INVOKABLE QString getHeadsetUpdateVersionString(const QString& _model,
                                                      const QString& _format = QStringLiteral("M.m")) const;
    Q_INVOKABLE QString getHeadsetUpdatePath(const QString& _model) const;
    Q_INVOKABLE QString getSoftwareUpdateVersionString(const QString& _model,
                                                       const QString& _format = QStringLiteral("M.m")) const;
    Q_INVOKABLE QString getSoftwareUpdatePath(const QString& _model) const;
    Q_INVOKABLE void checkReceiverUpdate(const QString& _model, const QString& _version,
                                         const QString& _revision);
    Q_INVOKABLE void checkHeadsetUpdate(const QString& _model, const QString& _version,
                                        const QString& _revision);
    Q_INVOKABLE void checkSoftwareUpdate(const QString& _platform, const QString& _version);

signals:
    void receiverUpdateChanged();
    void headsetUpdateChanged();
    void softwareUpdateChanged();

private:
    struct Entry {
        UpdateRecord::Shared record;
        Global::Id id;
        // What the request named by id asked the service, so that an identical check can share it.
        Global::Version askedVersion;
        Global::Version askedRevision;
    };
    struct KeyHash {
        std::size_t operator()(const QString& key) const noexcept { return qHash(key, 0); }
    };
    using Entries = std::unordered_map<QString, Entry, KeyHash>;

    void connectDownloader(UpdateDownloader* downloader, Entries* entries, void (UpdateManager::*changed)());
    void onRecord(Entries* entries, void (UpdateManager::*changed)(), Global::Id id,
                  const UpdateRecord::Shared& record);
    void checkFirmware(UpdateDownloader* downloader, Entries* entries, const QString& model,
                       const QString& version, const QString& revision);
    [[nodiscard]] static bool sharesRequest(const UpdateDownloader* downloader, const Entry& entry,
                                            const Global::Version& version, const Global::Version& revision);
    [[nodiscard]] bool isReferenced(const QString& path) const;
    [[nodiscard]] static UpdateRecord::Shared validRecord(const Entries& entries, const QString& key);
    [[nodiscard]] static QString versionText(const Entries& entries, const QString& key,
                                             const QString& format);
    [[nodiscard]] static QString pathText(const Entries& entries, const QString& key);

    UpdateDownloader* m_receiverDownloader = nullptr;
    UpdateDownloader* m_headsetDownloader = nullptr;
    UpdateDownloader* m_softwareDownloader = nullptr;
    Entries m_receiverEntries;
    Entries m_headsetEntries;
    Entries m_softwareEntries;
    bool m_programChecks = true;
    bool m_held = false;
    std::vector<std::function<void()>> m_heldChecks;
};

}  // namespace Updater
