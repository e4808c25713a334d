#pragma once

#include <QQuickImageProvider>

class QQmlEngine;

// The program's own pictures for QML, from its resources only. Both take the picture's path inside the
// resources, and with a sourceSize they return it at that size times the device pixel ratio, from the
// smallest of its 1x, @2x and @3x variants that has the pixels, scaled down smoothly where the ratio is not
// a whole one.

// "image://picture/images/logo.png" is ":/images/logo.png". Unlike a "qrc:" source, the picture is decoded
// at the size it is drawn whatever variant the path names, and reading it does not load every image format
// plugin of the system (for a "qrc:" source Qt Quick lists what they all read before it opens the file).
class PictureProvider : public QQuickImageProvider {
public:
    static const QString kId;  // the host of the URLs: "picture"

    PictureProvider();

    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

// "image://tinted/RRGGBB/images/arrow_left.png" is ":/images/arrow_left.png" with each pixel in #RRGGBB at
// the picture's own opacity, which is what a colour overlay draws for an opaque colour. An overlay is a
// shader effect, and each page that shows one for the first time waits for its shaders to be compiled: on
// a software renderer a tenth of a second and more.
class TintedImageProvider : public QQuickImageProvider {
public:
    static const QString kId;  // the host of the URLs: "tinted"

    TintedImageProvider();

    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};

// Both, under their hosts; the engine owns them.
void addPictureProviders(QQmlEngine& engine);
