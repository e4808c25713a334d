#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <cstdio>

#include "tools/hidsimctl/controlrequest.h"

// Sends one request to a running simulator's control socket and prints the answer. Exit status: 0 when the
// simulator accepted the request, 1 when it refused it, 2 when it could not be asked.
int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("hidsimctl"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Live control of the HID simulator.\n\n") +
                                     ControlRequest::usage());
    parser.addHelpOption();
    const QCommandLineOption socketOption(QStringLiteral("socket"),
                                          QStringLiteral("Control socket (default: $HIDSIM_CONTROL)."),
                                          QStringLiteral("path"), qEnvironmentVariable("HIDSIM_CONTROL"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"), QStringLiteral("Milliseconds to wait."),
                                           QStringLiteral("ms"), QStringLiteral("5000"));
    parser.addOption(socketOption);
    parser.addOption(timeoutOption);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do, see above."));
    parser.process(app);

    QString error;
    const QJsonObject request = ControlRequest::fromArguments(parser.positionalArguments(), &error);
    if (request.isEmpty()) {
        std::fprintf(stderr, "hidsimctl: %s\n\n%s", qPrintable(error), qPrintable(ControlRequest::usage()));
        return 2;
    }
    const QString path = parser.value(socketOption);
    if (path.isEmpty()) {
        std::fprintf(stderr, "hidsimctl: no socket: set HIDSIM_CONTROL or pass --socket\n");
        return 2;
    }
    const int timeout = parser.value(timeoutOption).toInt();

    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeout)) {
        std::fprintf(stderr, "hidsimctl: %s: %s\n", qPrintable(path), qPrintable(socket.errorString()));
        return 2;
    }
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    socket.waitForBytesWritten(timeout);
    QByteArray answer;
    while (!answer.contains('\n')) {
        if (!socket.waitForReadyRead(timeout)) {
            std::fprintf(stderr, "hidsimctl: no answer from %s\n", qPrintable(path));
            return 2;
        }
        answer += socket.readAll();
    }
    answer = answer.left(answer.indexOf('\n'));
    const QJsonObject reply = QJsonDocument::fromJson(answer).object();
    std::printf("%s\n", QJsonDocument(reply).toJson(QJsonDocument::Indented).constData());
    return reply.value(QStringLiteral("ok")).toBool() ? 0 : 1;
}
