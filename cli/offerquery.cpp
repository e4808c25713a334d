#include "cli/offerquery.h"

#include <QNetworkReply>
#include <QNetworkRequest>

#include "base/logging.h"
#include "updater/serviceurl.h"

namespace Cli {

OfferQuery::OfferQuery(QNetworkAccessManager& network, QObject* parent)
    : QObject(parent), m_network(network) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        qCWarning(lcOnline) << "No answer from" << m_url.toString(QUrl::RemoveQuery) << "within"
                            << kTimeoutMs / 1000 << "s";
        finish(false);
    });
}

void OfferQuery::ask(const QString& model, bool receiver, const Global::Version& version,
                     const Global::Version& revision) {
    // The keys the service uses for the two kinds of device, as the downloader reads them.
    m_kind = receiver ? QStringLiteral("dongle") : QStringLiteral("headset");
    m_version = version;
    m_body.clear();
    m_url = Updater::ServiceUrl::firmwareMetadata(Updater::ServiceUrl::defaultBase(), model, revision);
    m_reply = m_network.get(QNetworkRequest(m_url));
    m_timer.start(kTimeoutMs);
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        m_body += m_reply->read(kLimit + 1 - m_body.size());
        if (m_body.size() > kLimit) {
            qCWarning(lcOnline) << "The offer list of" << m_url.toString(QUrl::RemoveQuery) << "exceeds"
                                << kLimit << "bytes";
            finish(false);
        }
    });
    connect(m_reply, &QNetworkReply::finished, this, [this] {
        if (!m_reply)
            return;
        if (m_reply->error() != QNetworkReply::NoError) {
            qCWarning(lcOnline) << "Offer check at" << m_url.toString(QUrl::RemoveQuery)
                                << "failed:" << m_reply->errorString();
            finish(false);
            return;
        }
        m_body += m_reply->read(kLimit + 1 - m_body.size());
        finish(m_body.size() <= kLimit);
    });
}

void OfferQuery::finish(bool ok) {
    m_timer.stop();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    emit answered(ok, ok ? Updater::Offer::readFirmware(m_body, m_kind, m_version) : Updater::Offer());
}

}  // namespace Cli
