#pragma once

#include <QColor>
#include <QObject>
#include <QString>

// Visual constants of one deliverable, read by QML as the singleton "Arca.Theme" 1.0. The main program
// draws white on purple; the installer (ARCA_INSTALLER) purple on white. Values never change after
// construction, so every property is CONSTANT and QML cannot assign to them.
class Theme : public QObject {
    Q_OBJECT
    Q_PROPERTY(QColor colorBlack READ colorBlack CONSTANT FINAL)
    Q_PROPERTY(QColor colorWhite READ colorWhite CONSTANT FINAL)
    Q_PROPERTY(QColor colorGray READ colorGray CONSTANT FINAL)
    Q_PROPERTY(QColor colorPurple READ colorPurple CONSTANT FINAL)
#ifndef ARCA_INSTALLER
    Q_PROPERTY(QColor colorRed READ colorRed CONSTANT FINAL)
#endif
    Q_PROPERTY(QColor fontColorEnabled READ fontColorEnabled CONSTANT FINAL)
    Q_PROPERTY(QColor fontColorDisabled READ fontColorDisabled CONSTANT FINAL)
    Q_PROPERTY(QColor fontColorPressed READ fontColorPressed CONSTANT FINAL)
    Q_PROPERTY(QColor fontColorHovered READ fontColorHovered CONSTANT FINAL)
    Q_PROPERTY(int fontSizeXSmall READ fontSizeXSmall CONSTANT FINAL)
    Q_PROPERTY(int fontSizeSmall READ fontSizeSmall CONSTANT FINAL)
    Q_PROPERTY(int fontSizeRegular READ fontSizeRegular CONSTANT FINAL)
    Q_PROPERTY(int fontSizeLarge READ fontSizeLarge CONSTANT FINAL)
    Q_PROPERTY(int fontSizeXLarge READ fontSizeXLarge CONSTANT FINAL)
    Q_PROPERTY(int fontSizeTitle READ fontSizeTitle CONSTANT FINAL)
#ifdef ARCA_INSTALLER
    Q_PROPERTY(QString fontFamilyLight READ fontFamilyLight CONSTANT FINAL)
#endif
    Q_PROPERTY(QString fontFamilyRegular READ fontFamilyRegular CONSTANT FINAL)
    Q_PROPERTY(QString fontFamilyTitle READ fontFamilyTitle CONSTANT FINAL)
    Q_PROPERTY(QColor borderColorEnabled READ borderColorEnabled CONSTANT FINAL)
    Q_PROPERTY(QColor borderColorDisabled READ borderColorDisabled CONSTANT FINAL)
    Q_PROPERTY(QColor borderColorPressed READ borderColorPressed CONSTANT FINAL)
    Q_PROPERTY(QColor borderColorHovered READ borderColorHovered CONSTANT FINAL)
    Q_PROPERTY(int borderWidth READ borderWidth CONSTANT FINAL)
    Q_PROPERTY(int borderRadius READ borderRadius CONSTANT FINAL)
    Q_PROPERTY(QColor backgroundColorEnabled READ backgroundColorEnabled CONSTANT FINAL)
    Q_PROPERTY(QColor backgroundColorDisabled READ backgroundColorDisabled CONSTANT FINAL)
    Q_PROPERTY(QColor backgroundColorPressed READ backgroundColorPressed CONSTANT FINAL)
    Q_PROPERTY(QColor backgroundColorHovered READ backgroundColorHovered CONSTANT FINAL)
    Q_PROPERTY(int controlPadding READ controlPadding CONSTANT FINAL)
    Q_PROPERTY(int controlTopPadding READ controlTopPadding CONSTANT FINAL)
    Q_PROPERTY(int controlBottomPadding READ controlBottomPadding CONSTANT FINAL)
    Q_PROPERTY(int controlLeftPadding READ controlLeftPadding CONSTANT FINAL)
    Q_PROPERTY(int controlRightPadding READ controlRightPadding CONSTANT FINAL)
    Q_PROPERTY(int controlHeight READ controlHeight CONSTANT FINAL)
    Q_PROPERTY(int layoutSpacing READ layoutSpacing CONSTANT FINAL)
    Q_PROPERTY(int layoutMargins READ layoutMargins CONSTANT FINAL)

public:
    explicit Theme(QObject* parent = nullptr);

    [[nodiscard]] QColor colorBlack() const {
        return m_colorBlack;
    }
    [[nodiscard]] QColor colorWhite() const {
        return m_colorWhite;
    }
    [[nodiscard]] QColor colorGray() const {
        return m_colorGray;
    }
    [[nodiscard]] QColor colorPurple() const {
        return m_colorPurple;
    }
#ifndef ARCA_INSTALLER
    [[nodiscard]] QColor colorRed() const {
        return m_colorRed;
    }
#endif
    [[nodiscard]] QColor fontColorEnabled() const {
        return m_fontColorEnabled;
    }
    [[nodiscard]] QColor fontColorDisabled() const {
        return m_fontColorDisabled;
    }
    [[nodiscard]] QColor fontColorPressed() const {
        return m_fontColorPressed;
    }
    [[nodiscard]] QColor fontColorHovered() const {
        return m_fontColorHovered;
    }
    [[nodiscard]] int fontSizeXSmall() const {
        return 11;
    }
    [[nodiscard]] int fontSizeSmall() const {
        return 12;
    }
    [[nodiscard]] int fontSizeRegular() const {
        return 14;
    }
    [[nodiscard]] int fontSizeLarge() const {
        return 16;
    }
    [[nodiscard]] int fontSizeXLarge() const {
        return 18;
    }
    [[nodiscard]] int fontSizeTitle() const {
        return m_fontSizeTitle;
    }
#ifdef ARCA_INSTALLER
    [[nodiscard]] QString fontFamilyLight() const {
        return m_fontFamilyLight;
    }
#endif
    [[nodiscard]] QString fontFamilyRegular() const {
        return m_fontFamilyRegular;
    }
    [[nodiscard]] QString fontFamilyTitle() const {
        return m_fontFamilyTitle;
    }
    [[nodiscard]] QColor borderColorEnabled() const {
        return m_borderColorEnabled;
    }
    [[nodiscard]] QColor borderColorDisabled() const {
        return m_borderColorDisabled;
    }
    [[nodiscard]] QColor borderColorPressed() const {
        return m_borderColorPressed;
    }
    [[nodiscard]] QColor borderColorHovered() const {
        return m_borderColorHovered;
    }
    [[nodiscard]] int borderWidth() const {
        return 2;
    }
    [[nodiscard]] int borderRadius() const {
        return m_borderRadius;
    }
    [[nodiscard]] QColor backgroundColorEnabled() const {
        return m_backgroundColorEnabled;
    }
    [[nodiscard]] QColor backgroundColorDisabled() const {
        return m_backgroundColorDisabled;
    }
    [[nodiscard]] QColor backgroundColorPressed() const {
        return m_backgroundColorPressed;
    }
    [[nodiscard]] QColor backgroundColorHovered() const {
        return m_backgroundColorHovered;
    }
    [[nodiscard]] int controlPadding() const {
        return m_controlPadding;
    }
    [[nodiscard]] int controlTopPadding() const {
        return m_controlEdgePadding;
    }
    [[nodiscard]] int controlBottomPadding() const {
        return m_controlEdgePadding;
    }
    [[nodiscard]] int controlLeftPadding() const {
        return m_controlEdgePadding;
    }
    [[nodiscard]] int controlRightPadding() const {
        return m_controlEdgePadding;
    }
    [[nodiscard]] int controlHeight() const {
        return m_controlHeight;
    }
    [[nodiscard]] int layoutSpacing() const {
        return 8;
    }
    [[nodiscard]] int layoutMargins() const {
        return 8;
    }

private:
    const QColor m_colorBlack;
    const QColor m_colorWhite;
    const QColor m_colorGray;
    const QColor m_colorPurple;
#ifndef ARCA_INSTALLER
    const QColor m_colorRed;
#endif
    QColor m_fontColorEnabled;
    QColor m_fontColorDisabled;
    QColor m_fontColorPressed;
    QColor m_fontColorHovered;
    int m_fontSizeTitle = 0;
#ifdef ARCA_INSTALLER
    QString m_fontFamilyLight;
#endif
    QString m_fontFamilyRegular;
    QString m_fontFamilyTitle;
    QColor m_borderColorEnabled;
    QColor m_borderColorDisabled;
    QColor m_borderColorPressed;
    QColor m_borderColorHovered;
    int m_borderRadius = 0;
    QColor m_backgroundColorEnabled;
    QColor m_backgroundColorDisabled;
    QColor m_backgroundColorPressed;
    QColor m_backgroundColorHovered;
    int m_controlPadding = 0;
    int m_controlEdgePadding = 0;
    int m_controlHeight = 0;
};
