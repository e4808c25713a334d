// libFuzzer target for the request server of the first instance: whatever a local process writes to its
// socket. One server lives for the whole run; every input is one client connection.
// Input: one byte of client behaviour (bit 0: stay and read the acknowledgement; bit 1: half-close the
// write side instead of hanging up), then the bytes the client writes.
#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/appextension.h"
#include "platform/instancelock.h"

namespace {

struct Server {
    QString key;
    Common::AppExtension* extension = nullptr;
    QLocalServer* listener = nullptr;
    int activations = 0;
    int closes = 0;
};

Server* server = nullptr;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    server = new Server;
    server->key = QStringLiteral("meldra-fuzz-instance-%1").arg(::getpid());
    server->extension = new Common::AppExtension(server->key);
    server->listener = server->extension->findChild<QLocalServer*>();
    check(!server->extension->hasRunningInstance() && server->listener && server->listener->isListening());
    QObject::connect(server->extension, &Common::IAppExtension::activateRequested,
                     [] { ++server->activations; });
    QObject::connect(server->extension, &Common::IAppExtension::closeRequested, [] { ++server->closes; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool readAcknowledge = (data[0] & 1) != 0;
    const bool halfClose = (data[0] & 2) != 0;
    const QByteArray payload = QByteArray(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const bool whole = payload.size() >= 4;
    qint32 command = 0;
    if (whole) {
        std::memcpy(&command, payload.constData(), sizeof(command));
    }
    // A client that stays connected with less than a command would hold the server for its whole wait
    // budget; that path is the time-out, not bad input, and is left to the unit tests.
    const bool stays = readAcknowledge && whole;

    QLocalSocket client;
    client.connectToServer(Platform::InstanceLock::serverName(server->key));
    check(client.waitForConnected(1000));
    if (!payload.isEmpty()) {
        check(client.write(payload) == payload.size());
        client.waitForBytesWritten(1000);
    }
    if (!stays) {
        if (halfClose) {
            ::shutdown(int(client.socketDescriptor()), SHUT_WR);
        } else {
            client.abort();
        }
    }

    const int activationsBefore = server->activations;
    const int closesBefore = server->closes;
    // The server takes the connection inside the wait, so only the time-out flag tells that it came.
    bool timedOut = true;
    server->listener->waitForNewConnection(1000, &timedOut);
    check(!timedOut);
    const int activated = server->activations - activationsBefore;
    const int closed = server->closes - closesBefore;

    // Nothing but a whole command is acted on, and only the one it names, once.
    check(activated <= 1 && closed <= 1 && activated + closed <= 1);
    if (activated == 1) {
        check(command == Common::AppExtension::kActivate);
    }
    if (closed == 1) {
        check(command == Common::AppExtension::kClose);
    }
    if (stays) {
        // A client that waits is answered, and its command is carried out.
        check(client.waitForReadyRead(1000) || client.bytesAvailable() >= 4);
        qint32 answer = 0;
        check(client.read(reinterpret_cast<char*>(&answer), sizeof(answer)) == qint64(sizeof(answer)));
        check(answer == Common::AppExtension::kAcknowledge);
        check(activated == (command == Common::AppExtension::kActivate ? 1 : 0));
        check(closed == (command == Common::AppExtension::kClose ? 1 : 0));
    }
    client.abort();
    return 0;
}
