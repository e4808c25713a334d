#include "app/pictureproviders.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QQmlEngine>

#include "base/logging.h"

namespace {

constexpr int kLargestVariant = 3;  // the pictures come at 1x, @2x and @3x

// `requested` with a missing side filled in from `natural`'s proportions; invalid when both are missing.
QSize completed(const QSize& requested, const QSize& natural) {
    if (requested.width() > 0 && requested.height() > 0) {
        return requested;
    }
    if (requested.width() > 0 && natural.width() > 0) {
        return {requested.width(), qMax(1, requested.width() * natural.height() / natural.width())};
    }
    if (requested.height() > 0 && natural.height() > 0) {
        return {qMax(1, requested.height() * natural.width() / natural.height()), requested.height()};
    }
    return {};
}

// Told the format, and not to guess it, QImageReader goes straight to the reader of that format. Otherwise it
// first asks every image format plugin of the system whether it reads the file, which loads them all.
QImage readPicture(const QString& path) {
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// The picture at `path` with `requested` pixels: the smallest density variant that has them all, scaled
// down to fit where the ratio is not a whole one, so that nothing is scaled up that a variant has sharp.
QImage loadAtSize(const QString& path, const QSize& requested) {
    QImage image = readPicture(path);
    const QSize target = completed(requested, image.size());
    if (image.isNull() || !target.isValid() || target == image.size()) {
        return image;
    }
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    for (int factor = 2; factor <= kLargestVariant && dot > 0 &&
                         (image.width() < target.width() || image.height() < target.height());
         ++factor) {
        QImage variant = readPicture(path.left(dot) + QStringLiteral("@%1x").arg(factor) + path.mid(dot));
        if (variant.isNull()) {
            break;
        }
        image = std::move(variant);
    }
    return image.size() == target ? image
                                  : image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The resource system resolves ".." inside itself, so no id reaches a file outside the program.
QString resourcePath(const QString& id) {
    return QStringLiteral(":/") + id;
}

}  // namespace

const QString PictureProvider::kId = QStringLiteral("picture");

PictureProvider::PictureProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage PictureProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
    QImage image = loadAtSize(resourcePath(id), requestedSize);
    if (image.isNull()) {
        qCWarning(lcShell).noquote() << "no picture" << id << "in the program";
    } else if (size) {
        *size = image.size();
    }
    return image;
}

const QString TintedImageProvider::kId = QStringLiteral("tinted");

TintedImageProvider::TintedImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage TintedImageProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
    const int slash = id.indexOf(QLatin1Char('/'));
    const QColor colour(QLatin1Char('#') + id.left(slash));
    const QString path = resourcePath(id.mid(slash + 1));
    if (slash <= 0 || !colour.isValid()) {
        qCWarning(lcShell).noquote() << "cannot tint" << id << "- no colour RRGGBB before its path";
        return {};
    }
    QImage image = loadAtSize(path, requestedSize);
    if (image.isNull()) {
        qCWarning(lcShell).noquote() << "cannot tint" << id << "- no picture" << path << "in the program";
        return {};
    }
    image = std::move(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), colour);
    painter.end();
    if (size) {
        *size = image.size();
    }
    return image;
}

void addPictureProviders(QQmlEngine& engine) {
    engine.addImageProvider(PictureProvider::kId, new PictureProvider);
    engine.addImageProvider(TintedImageProvider::kId, new TintedImageProvider);
}
