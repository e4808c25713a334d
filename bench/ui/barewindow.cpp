// The baseline: the least a Qt Quick program of the main window's size does to show its first frame.
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QStringList>
#include <QUrl>

int main(int argc, char* argv[]) {
    // The same attributes as the program, so the baseline renders at the same scale.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    // Another file in place of the bare one tells what a piece of the program's QML costs on its own.
    const QStringList arguments = QCoreApplication::arguments();
    engine.load(arguments.size() > 1 ? QUrl::fromLocalFile(arguments.at(1))
                                     : QUrl(QStringLiteral("qrc:/barewindow.qml")));
    if (engine.rootObjects().isEmpty()) {
        return 1;
    }
    return app.exec();
}
