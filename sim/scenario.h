#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include "sim/hidsim.h"

namespace HidSim {

// Reads the scenario format of docs/hidsim.md. Errors name the place in the document
// ("devices[1].firmware: ..."); unknown keys are only warned about, so that older libraries read newer
// files.
class Scenario {
public:
    [[nodiscard]] static bool parse(const QByteArray& json, QVector<DeviceSetup>* devices, Timings* timings,
                                    QString* error, QStringList* warnings);
    [[nodiscard]] static bool parseFile(const QString& path, QVector<DeviceSetup>* devices, Timings* timings,
                                        QString* error, QStringList* warnings);
    [[nodiscard]] static bool parseDevice(const QJsonObject& object, const QString& where, DeviceSetup* setup,
                                          QString* error, QStringList* warnings);
    [[nodiscard]] static bool parseFaults(const QJsonObject& object, const QString& where, Faults* faults,
                                          QString* error, QStringList* warnings);
    [[nodiscard]] static bool parseRepair(const QJsonObject& object, const QString& where,
                                          RepairScript* repair, QString* error, QStringList* warnings);
    // Changes only the fields the object names.
    [[nodiscard]] static bool parseLink(const QJsonObject& object, const QString& where, Link* link,
                                        QString* error, QStringList* warnings);
    // Changes only the timings the object names.
    [[nodiscard]] static bool parseTimings(const QJsonObject& object, const QString& where, Timings* timings,
                                           QString* error, QStringList* warnings);
    // A JSON number or a text in decimal or "0x" hexadecimal, within [min, max].
    [[nodiscard]] static bool parseNumber(const QJsonValue& value, const QString& where, qint64 min,
                                          qint64 max, qint64* out, QString* error);
    [[nodiscard]] static bool parseType(const QString& text, DeviceType* type);
};

}  // namespace HidSim
