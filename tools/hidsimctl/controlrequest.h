#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// Turns hidsimctl's command line into one control request of the simulator's socket protocol.
class ControlRequest {
public:
    // Returns an empty object and sets error when the arguments do not make a request.
    [[nodiscard]] static QJsonObject fromArguments(const QStringList& arguments, QString* error);
    [[nodiscard]] static QString usage();
};
