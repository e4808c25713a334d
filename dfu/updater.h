#pragma once

#include "dfu/iupdater.h"

namespace DFU {

// Adapter over the engine's C interface. The engine keeps a single connection of its own, so only one
// Updater may be in use at a time.
class Updater final : public IUpdater {
public:
    Updater() = default;
    ~Updater() override;

    bool connect(quint16 vendor_id, quint16 product_id, quint16 usage_page, quint16 usage) override;
    bool connect(const Io::DeviceId& id) override;
    bool upgrade(const QString& path) override;
    bool backup(const QString& path) override;
    bool resetDevice() override;
    bool disconnect() override;
    bool getProgress(quint8& percent) override;

private:
    // The device of the last connection, for what the log says.
    Io::DeviceId m_id;
};

// The caller owns the result.
[[nodiscard]] IUpdater* createUpdater();

}  // namespace DFU
