#include <QDir>
#include <QFontDatabase>
#include <QtQml>
#include <QtQuickTest>

#include "app/theme.h"
#include "fakeenums.h"

namespace {

QObject* createTheme(QQmlEngine*, QJSEngine*) {
    return new Theme();
}

}  // namespace

class Setup : public QObject {
    Q_OBJECT

public slots:
    void applicationAvailable() {
        qmlRegisterSingletonType<Theme>("Arca.Theme", 1, 0, "Theme", createTheme);
        qmlRegisterUncreatableType<FakeFirmwareEnums>(
            "Arca.UIMediator.Enums", 1, 0, "UIFirmwareUpdateMediator", QStringLiteral("enums only"));
        const auto fonts = QDir(QStringLiteral(":/fonts")).entryInfoList(QDir::Files, QDir::NoSort);
        for (const QFileInfo& font : fonts) {
            QFontDatabase::addApplicationFont(font.absoluteFilePath());
        }
    }
};

QUICK_TEST_MAIN_WITH_SETUP(tst_qml, Setup)

#include "tst_qml.moc"
