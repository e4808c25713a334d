#pragma once

#include <QQuickImageProvider>

// The program's pictures in one colour, as plain textures: "image://tinted/RRGGBB/images/arrow_left.png" is
// ":/images/arrow_left.png" with each pixel in #RRGGBB at the picture's own opacity, which is what a colour
// overlay draws for an opaque colour. An overlay is a shader effect, and each page that shows one for the
// first time waits for its shaders to be compiled: on a software renderer a tenth of a second and more.
// With a sourceSize, the picture comes at that size times the device pixel ratio, from the @2x or @3x
// variant where one is needed. Only the program's own resources are read.
class TintedImageProvider : public QQuickImageProvider {
public:
    static const QString kId;  // the host of the URLs: "tinted"

    TintedImageProvider();

    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};
