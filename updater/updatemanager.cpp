#include "updater/updatemanager.h"

#include <QFile>
#include <QStandardPaths>
#include <algorithm>

#include "base/logging.h"
#include "platform/programupdates.h"
#include "updater/updatedownloader.h"

namespace Updater {

UpdateManager::UpdateManager(QObject* parent) : UpdateManager(defaultDirectory(), QString(), parent) {
    // A copy this program did not install is updated by whoever installed it; and where the system cannot
    // vouch for an installer, a program without our key has no way to trust one.
    m_programChecks = Platform::ProgramUpdates::selfUpdating() &&
                      (Platform::ProgramUpdates::platformSignatures() || m_softwareDownloader->publicKey());
}

UpdateManager::UpdateManager(const QString& directory, const QString& base_url, QObject* parent)
    : QObject(parent),
      m_receiverDownloader(new UpdateDownloader(directory)),
      m_headsetDownloader(new UpdateDownloader(directory)),
      m_softwareDownloader(new UpdateDownloader(directory)) {
    for (UpdateDownloader* downloader : {m_receiverDownloader, m_headsetDownloader, m_softwareDownloader}) {
        if (!base_url.isEmpty()) {
            downloader->setBaseUrl(base_url);
        }
    }
    connectDownloader(m_receiverDownloader, &m_receiverEntries, &UpdateManager::receiverUpdateChanged);
    connectDownloader(m_headsetDownloader, &m_headsetEntries, &UpdateManager::headsetUpdateChanged);
    connectDownloader(m_softwareDownloader, &m_softwareEntries, &UpdateManager::softwareUpdateChanged);
}

UpdateManager::~UpdateManager() {
    m_softwareEntries.clear();
    m_headsetEntries.clear();
    m_receiverEntries.clear();
    delete m_softwareDownloader;
    delete m_headsetDownloader;
    delete m_receiverDownloader;
}

void UpdateManager::setPublicKey(const std::optional<Minisign::PublicKey>& key) {
    for (UpdateDownloader* downloader : {m_receiverDownloader, m_headsetDownloader, m_softwareDownloader}) {
        downloader->setPublicKey(key);
    }
}

void UpdateManager::setFirmwareCheck(const UpdateDownloader::FirmwareCheck& check) {
    m_receiverDownloader->setFirmwareCheck(check);
    m_headsetDownloader->setFirmwareCheck(check);
}

QString UpdateManager::defaultDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/update");
}

void UpdateManager::connectDownloader(UpdateDownloader* downloader, Entries* entries,
                                      void (UpdateManager::*changed)()) {
    connect(downloader, &UpdateDownloader::updateRecordAvaliable, this,
            [this, entries, changed](Global::Id id, const UpdateRecord::Shared& record) {
                onRecord(entries, changed, id, record);
            });
}

void UpdateManager::onRecord(Entries* entries, void (UpdateManager::*changed)(), Global::Id id,
                             const UpdateRecord::Shared& record) {
    const auto it = std::find_if(entries->begin(), entries->end(),
                                 [id](const Entries::value_type& entry) { return entry.second.id == id; });
    if (it == entries->end()) {
        return;
    }
    Entry& entry = it->second;
    if (entry.record == record) {
        return;
    }
    UpdateRecord::Shared replaced = std::move(entry.record);
    entry.record = record;
    // Another model's record may name the same file (one image for two models); it stays while referenced.
    if (replaced && replaced->path() != record->path() && !isReferenced(replaced->path())) {
        QFile::remove(replaced->path());
    }
    emit(this->*changed)();
}

bool UpdateManager::discardDownload(const QString& path) {
    bool dropped = false;
    for (Entries* entries : {&m_receiverEntries, &m_headsetEntries, &m_softwareEntries}) {
        for (auto& entry : *entries) {
            if (!path.isEmpty() && entry.second.record && entry.second.record->path() == path) {
                entry.second.record.reset();
                dropped = true;
            }
        }
    }
    if (dropped) {
        qCWarning(lcOnline).noquote() << "dropped the damaged download" << path << "to fetch it again";
        QFile::remove(path);
        QFile::remove(path + QStringLiteral(".minisig"));
    }
    return dropped;
}

bool UpdateManager::isReferenced(const QString& path) const {
    for (const Entries* entries : {&m_receiverEntries, &m_headsetEntries, &m_softwareEntries}) {
        for (const auto& entry : *entries) {
            if (entry.second.record && entry.second.record->path() == path) {
                return true;
            }
        }
    }
    return false;
}

void UpdateManager::checkFirmware(UpdateDownloader* downloader, Entries* entries, const QString& model,
                                  const QString& version_text, const QString& revision_text) {
    const Global::Version revision = Global::Version::fromString(revision_text, 10);
    Global::Version version = Global::Version::fromString(version_text, 10);
    Entry& entry = entries->try_emplace(model).first->second;
    // A file already fetched for this revision raises the bar: only something newer is worth fetching.
    if (entry.record && entry.record->isValid() && entry.record->revision() == revision &&
        !(entry.record->version() < version)) {
        version = entry.record->version();
    }
    if (sharesRequest(downloader, entry, version, revision)) {
        return;
    }
    entry.askedVersion = version;
    entry.askedRevision = revision;
    const bool receiver = downloader == m_receiverDownloader;
    entry.id = receiver ? downloader->checkReceiverFirmware(model, version, revision)
                        : downloader->checkHeadsetFirmware(model, version, revision);
}

void UpdateManager::setHeld(bool held) {
    m_held = held;
    if (held) {
        return;
    }
    const std::vector<std::function<void()>> checks = std::move(m_heldChecks);
    m_heldChecks.clear();
    for (const auto& check : checks) {
        check();
    }
}

void UpdateManager::checkReceiverUpdate(const QString& _model, const QString& _version,
                                        const QString& _revision) {
    if (m_held) {
        m_heldChecks.emplace_back([=] { checkReceiverUpdate(_model, _version, _revision); });
        return;
    }
    checkFirmware(m_receiverDownloader, &m_receiverEntries, _model, _version, _revision);
}

void UpdateManager::checkHeadsetUpdate(const QString& _model, const QString& _version,
                                       const QString& _revision) {
    if (m_held) {
        m_heldChecks.emplace_back([=] { checkHeadsetUpdate(_model, _version, _revision); });
        return;
    }
    checkFirmware(m_headsetDownloader, &m_headsetEntries, _model, _version, _revision);
}

void UpdateManager::checkSoftwareUpdate(const QString& _platform, const QString& _version) {
    if (!m_programChecks) {
        return;
    }
    if (m_held) {
        m_heldChecks.emplace_back([=] { checkSoftwareUpdate(_platform, _version); });
        return;
    }
    Global::Version version = Global::Version::fromString(_version, 10);
    Entry& entry = m_softwareEntries.try_emplace(_platform).first->second;
    if (entry.record && entry.record->isValid() && !(entry.record->version() < version)) {
        version = entry.record->version();
    }
    if (sharesRequest(m_softwareDownloader, entry, version, entry.askedRevision)) {
        return;
    }
    entry.askedVersion = version;
    entry.id = m_softwareDownloader->checkSoftware(_platform, version);
}

// The window asks again whenever it (re)learns a device, often twice within a moment; the service would
// answer the same, so an identical question still in flight shares its request and its download.
bool UpdateManager::sharesRequest(const UpdateDownloader* downloader, const Entry& entry,
                                  const Global::Version& version, const Global::Version& revision) {
    return entry.id.isValid() && entry.askedVersion == version && entry.askedRevision == revision &&
           downloader->isPending(entry.id);
}

UpdateRecord::Shared UpdateManager::validRecord(const Entries& entries, const QString& key) {
    const auto it = entries.find(key);
    if (it == entries.end() || !it->second.record || !it->second.record->isValid()) {
        return {};
    }
    return it->second.record;
}

QString UpdateManager::versionText(const Entries& entries, const QString& key, const QString& format) {
    const UpdateRecord::Shared record = validRecord(entries, key);
    return record ? record->version().toString(format, 10) : QString();
}

QString UpdateManager::pathText(const Entries& entries, const QString& key) {
    const UpdateRecord::Shared record = validRecord(entries, key);
    return record ? record->path() : QString();
}

QString UpdateManager::getReceiverUpdateVersionString(const QString& _model, const QString& _format) const {
    return versionText(m_receiverEntries, _model, _format);
}

QString UpdateManager::getReceiverUpdatePath(const QString& _model) const {
    return pathText(m_receiverEntries, _model);
}

QString UpdateManager::getHeadsetUpdateVersionString(const QString& _model, const QString& _format) const {
    return versionText(m_headsetEntries, _model, _format);
}

QString UpdateManager::getHeadsetUpdatePath(const QString& _model) const {
    return pathText(m_headsetEntries, _model);
}

QString UpdateManager::getSoftwareUpdateVersionString(const QString& _model, const QString& _format) const {
    return versionText(m_softwareEntries, _model, _format);
}

QString UpdateManager::getSoftwareUpdatePath(const QString& _model) const {
    return pathText(m_softwareEntries, _model);
}

}  // namespace Updater

// Compiled here rather than in the core's shared moc unit, which the installer links without the engine.
#include "moc_updatemanager.cpp"
