#pragma once

#include <QJsonObject>
#include <QString>

#include "io/version.h"
#include "mediator/devicerules.h"

namespace Cli {

// Plain text as it goes, or one JSON document at the end; progress goes to stderr either way, so stdout
// stays parseable.
class Output {
public:
    // The shape of the JSON document; raised only when a key changes meaning or goes away.
    static constexpr int kFormat = 1;

    Output(const QString& command, bool json);

    [[nodiscard]] bool isJson() const { return m_json; }
    [[nodiscard]] QJsonObject& document() { return m_document; }

    void text(const QString& line) const;
    void progress(const QString& line) const;
    // The reason a command ends with a code other than success: stderr, and "message" in the document.
    void error(const QString& message);
    // Writes the document in JSON mode; returns the code.
    int finish(int code);

    [[nodiscard]] static QJsonObject device(const UIMediator::DeviceRules::Device& device,
                                            const Global::Version& firmware, const Global::Version& revision);
    [[nodiscard]] static QString version(const Global::Version& version);
    [[nodiscard]] static QString kind(UIMediator::DeviceRules::DeviceType type);
    [[nodiscard]] static QString model(UIMediator::DeviceRules::DeviceType type);

private:
    QJsonObject m_document;
    bool m_json;
};

}  // namespace Cli
