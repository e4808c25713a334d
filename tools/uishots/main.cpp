// uishots OUTDIR: writes one PNG per page state into OUTDIR (run under a display, e.g. xvfb-run -a).
#include <QCursor>
#include <QDir>
#include <QGuiApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QTextStream>
#include <QTimer>
#include <QtQml>

#include "app/pictureproviders.h"
#include "tools/pagestage/pagestage.h"

namespace {

void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: uishots OUTDIR\n";
        return 2;
    }
    QDir out(args.at(1));
    if (!out.mkpath(QStringLiteral("."))) {
        QTextStream(stderr) << "cannot create " << args.at(1) << "\n";
        return 1;
    }

    preparePageStage();

    QQuickView view;
    addPictureProviders(*view.engine());
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setSource(QUrl(QStringLiteral("qrc:/uishots/Shots.qml")));
    if (view.status() != QQuickView::Ready) {
        for (const auto& error : view.errors()) {
            QTextStream(stderr) << error.toString() << "\n";
        }
        return 1;
    }
    view.resize(520, 422);
    view.show();

    QObject* root = view.rootObject();
    const int count = root->property("count").toInt();
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        QVariant name;
        QMetaObject::invokeMethod(root, "show", Q_RETURN_ARG(QVariant, name), Q_ARG(QVariant, i));
        QVariant point;
        QMetaObject::invokeMethod(root, "hoverPoint", Q_RETURN_ARG(QVariant, point), Q_ARG(QVariant, i));
        const QPoint hover = point.toPointF().toPoint();
        QCursor::setPos(hover.x() >= 0 ? view.mapToGlobal(hover) : view.mapToGlobal(QPoint(-50, -50)));
        settle(400);
        const QString file = out.filePath(name.toString() + QStringLiteral(".png"));
        if (!view.grabWindow().save(file)) {
            ++failures;
        }
        QTextStream(stdout) << file << "\n";
    }
    return failures == 0 ? 0 : 1;
}
