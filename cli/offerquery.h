#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include "io/version.h"
#include "updater/offer.h"

class QNetworkReply;

namespace Cli {

// What the update service offers for one device, read with the window's offer rules, without fetching the
// file: a check on a thousand desks must not pull a thousand images.
class OfferQuery : public QObject {
    Q_OBJECT

public:
    static constexpr int kTimeoutMs = 30000;
    // A real offer list is a few hundred bytes.
    static constexpr qint64 kLimit = 1024 * 1024;

    OfferQuery(QNetworkAccessManager& network, QObject* parent = nullptr);

    // The model is the family name; receiver picks the receiver's keys of the reply.
    void ask(const QString& model, bool receiver, const Global::Version& version,
             const Global::Version& revision);

signals:
    // ok is false when the service could not be asked or its reply could not be read whole.
    void answered(bool ok, const Updater::Offer& offer);

private:
    void finish(bool ok);

    QNetworkAccessManager& m_network;
    QNetworkReply* m_reply = nullptr;
    QTimer m_timer;
    QByteArray m_body;
    QUrl m_url;
    QString m_kind;
    Global::Version m_version;
};

}  // namespace Cli
