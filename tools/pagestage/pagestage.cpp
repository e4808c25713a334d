#include "tools/pagestage/pagestage.h"

#include <QDir>
#include <QFontDatabase>
#include <QtQml>

#include "app/theme.h"
#include "tools/pagestage/firmwareenums.h"

namespace {

QObject* createTheme(QQmlEngine*, QJSEngine*) {
    return new Theme();
}

}  // namespace

void preparePageStage() {
    qmlRegisterSingletonType<Theme>("Arca.Theme", 1, 0, "Theme", createTheme);
    qmlRegisterUncreatableType<FirmwareEnums>("Arca.UIMediator.Enums", 1, 0, "UIFirmwareUpdateMediator",
                                              QStringLiteral("enums only"));
    const auto fonts = QDir(QStringLiteral(":/fonts")).entryInfoList(QDir::Files, QDir::NoSort);
    for (const QFileInfo& font : fonts) {
        QFontDatabase::addApplicationFont(font.absoluteFilePath());
    }
}
