#include <QColor>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMetaProperty>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QRawFont>
#include <QtTest>
#include <memory>

#include "app/theme.h"
#ifndef ARCA_INSTALLER
#include "app/pictureproviders.h"
#endif

namespace {

QObject* createTheme(QQmlEngine*, QJSEngine*) {
    return new Theme();
}

// Property order and values as the QML of each deliverable sees them.
const QList<QPair<const char*, QVariant>>& expectedProperties() {
    static const QList<QPair<const char*, QVariant>> list = {
        {"colorBlack", QColor("#000000")},
        {"colorWhite", QColor("#FFFFFF")},
        {"colorGray", QColor("#808080")},
        {"colorPurple", QColor("#804FF9")},
#ifndef ARCA_INSTALLER
        {"colorRed", QColor("#FF0000")},
        {"fontColorEnabled", QColor("#FFFFFF")},
        {"fontColorDisabled", QColor("#C0C0C0")},
        {"fontColorPressed", QColor("#804FF9")},
        {"fontColorHovered", QColor("#804FF9")},
#else
        {"fontColorEnabled", QColor("#804FF9")},
        {"fontColorDisabled", QColor("#804FF9").lighter(150)},
        {"fontColorPressed", QColor("#FFFFFF")},
        {"fontColorHovered", QColor("#FFFFFF")},
#endif
        {"fontSizeXSmall", 11},
        {"fontSizeSmall", 12},
        {"fontSizeRegular", 14},
        {"fontSizeLarge", 16},
        {"fontSizeXLarge", 18},
#ifndef ARCA_INSTALLER
        {"fontSizeTitle", 28},
        {"fontFamilyRegular", QStringLiteral("BrownPro Light")},
#else
        {"fontSizeTitle", 40},
        {"fontFamilyLight", QStringLiteral("BrownPro Light")},
        {"fontFamilyRegular", QStringLiteral("BrownPro Regular")},
#endif
        {"fontFamilyTitle", QStringLiteral("BrownPro")},
#ifndef ARCA_INSTALLER
        {"borderColorEnabled", QColor("#FFFFFF")},
        {"borderColorDisabled", QColor("#804FF9").lighter(125)},
        {"borderColorPressed", QColor("#FFFFFF")},
        {"borderColorHovered", QColor("#FFFFFF")},
        {"borderWidth", 2},
        {"borderRadius", 4},
        {"backgroundColorEnabled", QColor("#8E41FF")},
        {"backgroundColorDisabled", QColor("#804FF9").lighter(125)},
        {"backgroundColorPressed", QColor("#FFFFFF")},
        {"backgroundColorHovered", QColor("#FFFFFF")},
        {"controlPadding", 4},
        {"controlTopPadding", 6},
        {"controlBottomPadding", 6},
        {"controlLeftPadding", 6},
        {"controlRightPadding", 6},
        {"controlHeight", 44},
#else
        {"borderColorEnabled", QColor("#804FF9")},
        {"borderColorDisabled", QColor("#804FF9").lighter(125)},
        {"borderColorPressed", QColor("#804FF9")},
        {"borderColorHovered", QColor("#804FF9")},
        {"borderWidth", 2},
        {"borderRadius", 0},
        {"backgroundColorEnabled", QColor("#FFFFFF")},
        {"backgroundColorDisabled", QColor("#FFFFFF")},
        {"backgroundColorPressed", QColor("#804FF9")},
        {"backgroundColorHovered", QColor("#804FF9")},
        {"controlPadding", 2},
        {"controlTopPadding", 4},
        {"controlBottomPadding", 4},
        {"controlLeftPadding", 4},
        {"controlRightPadding", 4},
        {"controlHeight", 50},
#endif
        {"layoutSpacing", 8},
        {"layoutMargins", 8},
    };
    return list;
}

}  // namespace

class TestTheme : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qmlRegisterSingletonType<Theme>("Arca.Theme", 1, 0, "Theme", createTheme);
        const auto fonts = QDir(QStringLiteral(":/fonts")).entryInfoList(QDir::Files, QDir::NoSort);
        QVERIFY(!fonts.isEmpty());
        for (const QFileInfo& font : fonts) {
            QVERIFY2(QFontDatabase::addApplicationFont(font.absoluteFilePath()) >= 0,
                     qPrintable(font.fileName()));
        }
    }

    void propertiesInOrderWithTheirValues() {
        Theme theme;
        const QMetaObject* meta = theme.metaObject();
        const auto& expected = expectedProperties();
        QCOMPARE(meta->propertyCount() - meta->propertyOffset(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const QMetaProperty property = meta->property(meta->propertyOffset() + i);
            QCOMPARE(property.name(), expected[i].first);
            QVERIFY2(property.isConstant() && property.isFinal() && !property.isWritable(), property.name());
            QVariant value = property.read(&theme);
            if (value.userType() == QMetaType::QColor) {
                QCOMPARE(value.value<QColor>().alpha(), 255);
            }
            QVERIFY2(value == expected[i].second,
                     qPrintable(QStringLiteral("%1 is %2").arg(property.name(), value.toString())));
        }
    }

    void qmlSeesReadOnlyValuesAndOnlyItsOwnProperties() {
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData(R"(
            import QtQml 2.12
            import Arca.Theme 1.0
            QtObject {
                property var refused: []
                property string disabledFont: Theme.fontColorDisabled
                property bool hasRed: typeof Theme.colorRed !== "undefined"
                property bool hasLight: typeof Theme.fontFamilyLight !== "undefined"
                Component.onCompleted: {
                    var names = ["colorWhite", "fontSizeTitle", "fontFamilyTitle", "borderWidth", "controlHeight"]
                    var list = []
                    for (var i = 0; i < names.length; ++i) {
                        var before = Theme[names[i]]
                        try { Theme[names[i]] = 7 } catch (e) { list.push(names[i]) }
                        if (Theme[names[i]] !== before) list.push("changed:" + names[i])
                    }
                    refused = list
                }
            })",
                          QUrl());
        std::unique_ptr<QObject> object(component.create());
        QVERIFY2(object, qPrintable(component.errorString()));
        QCOMPARE(
            object->property("refused").toStringList(),
            QStringList({"colorWhite", "fontSizeTitle", "fontFamilyTitle", "borderWidth", "controlHeight"}));
#ifndef ARCA_INSTALLER
        QCOMPARE(object->property("disabledFont").toString(), QStringLiteral("#c0c0c0"));
        QVERIFY(object->property("hasRed").toBool());
        QVERIFY(!object->property("hasLight").toBool());
#else
        QVERIFY(!object->property("hasRed").toBool());
        QVERIFY(object->property("hasLight").toBool());
#endif
    }

    void fontFamiliesResolveToTheEmbeddedFaces_data() {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("weight");
        QTest::addColumn<QString>("face");
        QTest::newRow("title regular") << "BrownPro" << int(QFont::Normal) << "Regular";
        QTest::newRow("title bold") << "BrownPro" << int(QFont::Bold) << "Bold";
        QTest::newRow("light body") << "BrownPro Light" << int(QFont::Normal) << "Light";
        QTest::newRow("regular body") << "BrownPro Regular" << int(QFont::Normal) << "Regular";
        QTest::newRow("regular body bold") << "BrownPro Regular" << int(QFont::Bold) << "Bold";
    }

    void fontFamiliesResolveToTheEmbeddedFaces() {
        QFETCH(QString, family);
        QFETCH(int, weight);
        QFETCH(QString, face);
        QVERIFY2(QFontDatabase().families().contains(family), qPrintable(family));
        QFont font(family);
        font.setWeight(weight);
        QCOMPARE(QFontInfo(font).family(), family);
        // The face actually drawn, not the family's registered alias: "BrownPro Light" must be light.
        const QRawFont raw = QRawFont::fromFont(font);
        QCOMPARE(raw.styleName(), face);
        QVERIFY(!QFontInfo(font).italic());
    }

#ifndef ARCA_INSTALLER
    // Each pixel is the colour at the alpha of the variant the size calls for; no `reference`, no picture.
    void tintedPictures_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QSize>("requested");
        QTest::addColumn<QString>("reference");
        QTest::newRow("own size") << "ffffff/images/arrow_left.png" << QSize() << ":/images/arrow_left.png";
        QTest::newRow("double size from @2x, not scaled up")
            << "804ff9/images/arrow_left.png" << QSize(48, 48) << ":/images/arrow_left@2x.png";
        QTest::newRow("height only keeps the proportions")
            << "c0c0c0/images/chevron_right.png" << QSize(0, 28) << ":/images/chevron_right@2x.png";
        QTest::newRow("not a colour") << "white/images/arrow_left.png" << QSize() << "";
        QTest::newRow("no such picture") << "ffffff/images/none.png" << QSize() << "";
        QTest::newRow("a file outside the program") << "ffffff/../../../etc/hostname" << QSize() << "";
    }

    void tintedPictures() {
        QFETCH(QString, id);
        QFETCH(QSize, requested);
        QFETCH(QString, reference);
        TintedImageProvider provider;
        QSize size;
        const QImage image =
            provider.requestImage(id, &size, requested).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (reference.isEmpty()) {
            QVERIFY(image.isNull());
            return;
        }
        const QImage source(reference);
        QCOMPARE(image.size(), source.size());
        QCOMPARE(size, source.size());
        const QColor colour(QLatin1Char('#') + id.section(QLatin1Char('/'), 0, 0));
        for (int y = 0; y < source.height(); ++y) {
            for (int x = 0; x < source.width(); ++x) {
                const QRgb want = qPremultiply((colour.rgb() & RGB_MASK) | (source.pixel(x, y) & ~RGB_MASK));
                const QRgb got = image.pixel(x, y);
                const int off = qMax(qAbs(qRed(got) - qRed(want)), qAbs(qBlue(got) - qBlue(want)));
                QVERIFY2(qMax(off, qAbs(qGreen(got) - qGreen(want))) <= 1 && qAlpha(got) == qAlpha(want),
                         qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }
        }
    }

    // Decoded at the size asked, not at the size of the variant that has the pixels.
    void pictures_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QSize>("requested");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("own size") << "images/logo.png" << QSize() << QSize(156, 34);
        QTest::newRow("between two variants") << "images/device/dongle.png" << QSize(60, 113) << QSize(60, 113);
    }

    void pictures() {
        QFETCH(QString, id);
        QFETCH(QSize, requested);
        QFETCH(QSize, expected);
        PictureProvider provider;
        QSize size;
        const QImage image = provider.requestImage(id, &size, requested);
        QCOMPARE(image.size(), expected);
        QCOMPARE(size, expected);
        if (!requested.isValid()) {
            QCOMPARE(image.convertToFormat(QImage::Format_ARGB32),
                     QImage(QStringLiteral(":/") + id).convertToFormat(QImage::Format_ARGB32));
        }
    }
#endif
};

QTEST_MAIN(TestTheme)

#include "tst_theme.moc"
