#include <QDesktopServices>
#include <QQmlContext>
#include <QQmlEngine>
#include <QStringList>
#include <QUrl>
#include <QtQuickTest>

#include "app/pictureproviders.h"
#include "tools/pagestage/pagestage.h"

// Stands in for the system's web browser: the links of the pages are recorded, never opened.
class OpenedUrls : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList urls READ urls NOTIFY changed)

public:
    [[nodiscard]] QStringList urls() const { return m_urls; }
    Q_INVOKABLE void clear() {
        m_urls.clear();
        emit changed();
    }

public slots:
    void open(const QUrl& url) {
        m_urls.append(url.toString());
        emit changed();
    }

signals:
    void changed();

private:
    QStringList m_urls;
};

class Setup : public QObject {
    Q_OBJECT

public slots:
    void applicationAvailable() {
        preparePageStage();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_urls, "open");
    }
    void qmlEngineAvailable(QQmlEngine* engine) {
        engine->rootContext()->setContextProperty(QStringLiteral("OpenedUrls"), &m_urls);
        addPictureProviders(*engine);
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

private:
    OpenedUrls m_urls;
};

QUICK_TEST_MAIN_WITH_SETUP(tst_qml, Setup)

#include "tst_qml.moc"
