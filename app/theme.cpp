#include "app/theme.h"

Theme::Theme(QObject* parent)
    : QObject(parent),
      m_colorBlack(0x00, 0x00, 0x00),
      m_colorWhite(0xFF, 0xFF, 0xFF),
      m_colorGray(0x80, 0x80, 0x80),
      m_colorPurple(0x80, 0x4F, 0xF9)
#ifndef ARCA_INSTALLER
      ,
      m_colorRed(0xFF, 0x00, 0x00)
#endif
{
#ifndef ARCA_INSTALLER
    m_fontColorEnabled = m_colorWhite;
    m_fontColorDisabled = m_colorGray.lighter(150);
    m_fontColorPressed = m_colorPurple;
    m_fontColorHovered = m_colorPurple;
    m_fontSizeTitle = 28;
    m_fontFamilyRegular = QStringLiteral("BrownPro Light");
    m_fontFamilyTitle = QStringLiteral("BrownPro");
    m_borderColorEnabled = m_colorWhite;
    m_borderColorDisabled = m_colorPurple.lighter(125);
    m_borderColorPressed = m_colorWhite;
    m_borderColorHovered = m_colorWhite;
    m_borderRadius = 4;
    m_backgroundColorEnabled = QColor(0x8E, 0x41, 0xFF);
    m_backgroundColorDisabled = m_colorPurple.lighter(125);
    m_backgroundColorPressed = m_colorWhite;
    m_backgroundColorHovered = m_colorWhite;
    m_controlPadding = 4;
    m_controlEdgePadding = 6;
    m_controlHeight = 44;
#else
    m_fontColorEnabled = m_colorPurple;
    m_fontColorDisabled = m_colorPurple.lighter(150);
    m_fontColorPressed = m_colorWhite;
    m_fontColorHovered = m_colorWhite;
    m_fontSizeTitle = 40;
    m_fontFamilyLight = QStringLiteral("BrownPro Light");
    m_fontFamilyRegular = QStringLiteral("BrownPro Regular");
    m_fontFamilyTitle = QStringLiteral("BrownPro");
    m_borderColorEnabled = m_colorPurple;
    m_borderColorDisabled = m_colorPurple.lighter(125);
    m_borderColorPressed = m_colorPurple;
    m_borderColorHovered = m_colorPurple;
    m_borderRadius = 0;
    m_backgroundColorEnabled = m_colorWhite;
    m_backgroundColorDisabled = m_colorWhite;
    m_backgroundColorPressed = m_colorPurple;
    m_backgroundColorHovered = m_colorPurple;
    m_controlPadding = 2;
    m_controlEdgePadding = 4;
    m_controlHeight = 50;
#endif
}
