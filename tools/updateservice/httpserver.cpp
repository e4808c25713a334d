#include "tools/updateservice/httpserver.h"

#include <QElapsedTimer>
#include <QTimer>

#include <sys/socket.h>

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

namespace {

constexpr qint64 kChunk = 256 * 1024;
// Keeps the socket's own buffer small, so that a large file streams instead of landing in memory.
constexpr qint64 kHighWater = 1024 * 1024;
constexpr int kMaxHeader = 64 * 1024;

}  // namespace

struct HttpServer::Connection {
    QTcpSocket* socket = nullptr;
    QByteArray header;
    bool answered = false;
    Response response;
    std::unique_ptr<QFile> file;
    qint64 bodySize = 0;
    qint64 sent = 0;
    bool stalled = false;
    QElapsedTimer clock;  // since the headers, for the pacing
    bool paced = false;   // a pump is already scheduled
};

HttpServer::HttpServer(QObject* parent) : QObject(parent), m_server(new QTcpServer(this)) {
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::onNewConnection);
}

HttpServer::~HttpServer() {
    for (Connection* connection : qAsConst(m_connections)) {
        connection->socket->disconnect(this);
        delete connection;
    }
}

bool HttpServer::listen(const QHostAddress& address, quint16 port) {
    return m_server->listen(address, port);
}

quint16 HttpServer::port() const {
    return m_server->serverPort();
}

QString HttpServer::baseUrl() const {
    QHostAddress address = m_server->serverAddress();
    if (address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
        address == QHostAddress::AnyIPv6) {
        address = QHostAddress::LocalHost;
    }
    return QStringLiteral("http://%1:%2").arg(address.toString()).arg(port());
}

void HttpServer::setRoute(const QByteArray& target, const Response& response) {
    m_routes.insert(target, response);
}

void HttpServer::removeRoute(const QByteArray& target) {
    m_routes.remove(target);
}

void HttpServer::clearRoutes() {
    m_routes.clear();
}

void HttpServer::setHandler(Handler handler) {
    m_handler = std::move(handler);
}

QByteArray HttpServer::reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 307:
            return "Temporary Redirect";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

void HttpServer::onNewConnection() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        auto* connection = new Connection;
        connection->socket = socket;
        m_connections.insert(socket, connection);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { onReadyRead(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket]() {
            if (Connection* c = m_connections.value(socket)) {
                pump(c);
            }
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket]() {
            if (Connection* c = m_connections.value(socket)) {
                finish(c);
            }
        });
    }
}

void HttpServer::onReadyRead(QTcpSocket* socket) {
    Connection* connection = m_connections.value(socket);
    if (!connection || connection->answered) {
        socket->readAll();
        return;
    }
    connection->header += socket->readAll();
    const int end = connection->header.indexOf("\r\n\r\n");
    if (end < 0) {
        if (connection->header.size() > kMaxHeader) {
            Response bad;
            bad.status = 400;
            respond(connection, bad);
        }
        return;
    }
    const QByteArray line = connection->header.left(connection->header.indexOf("\r\n"));
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || parts.at(0) != "GET") {
        Response bad;
        bad.status = parts.value(0) == "GET" ? 400 : 405;
        respond(connection, bad);
        return;
    }
    const QByteArray target = parts.at(1);
    m_requests.append(target);
    emit requestReceived(target);
    if (m_routes.contains(target)) {
        respond(connection, m_routes.value(target));
    } else if (m_handler) {
        respond(connection, m_handler(target));
    } else {
        Response missing;
        missing.status = 404;
        respond(connection, missing);
    }
}

void HttpServer::respond(Connection* connection, const Response& response) {
    connection->answered = true;
    connection->response = response;
    if (!response.filePath.isEmpty()) {
        connection->file = std::make_unique<QFile>(response.filePath);
        if (!connection->file->open(QIODevice::ReadOnly)) {
            connection->file.reset();
            connection->response = Response();
            connection->response.status = 404;
        }
    }
    connection->bodySize = connection->file ? connection->file->size() : connection->response.body.size();
    const qint64 announced =
        connection->response.lengthOverride >= 0 ? connection->response.lengthOverride : connection->bodySize;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(connection->response.status) + ' ' +
                      reasonPhrase(connection->response.status) + "\r\n";
    head += "Content-Type: " + connection->response.contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
    if (!connection->response.location.isEmpty()) {
        head += "Location: " + connection->response.location + "\r\n";
    }
    if (!connection->response.contentEncoding.isEmpty()) {
        head += "Content-Encoding: " + connection->response.contentEncoding + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    connection->socket->write(head);
    connection->clock.start();
    pump(connection);
}

void HttpServer::pump(Connection* connection) {
    if (!connection->answered || connection->stalled) {
        return;
    }
    const Response& response = connection->response;
    while (connection->sent < connection->bodySize && connection->socket->bytesToWrite() < kHighWater) {
        if (m_rate > 0 && connection->sent >= m_rate * connection->clock.nsecsElapsed() / 1000000000) {
            if (!connection->paced) {
                connection->paced = true;
                QTcpSocket* socket = connection->socket;
                QTimer::singleShot(1, socket, [this, socket]() {
                    Connection* paced = m_connections.value(socket);
                    if (paced != nullptr) {
                        paced->paced = false;
                        pump(paced);
                    }
                });
            }
            break;
        }
        qint64 limit = connection->bodySize;
        if (response.fault != Fault::None) {
            limit = qMin(limit, response.faultAfter);
        }
        if (connection->sent >= limit) {
            break;
        }
        const qint64 size = qMin(kChunk, limit - connection->sent);
        const QByteArray chunk = connection->file ? connection->file->read(size)
                                                  : response.body.mid(int(connection->sent), int(size));
        if (chunk.isEmpty()) {
            break;
        }
        connection->socket->write(chunk);
        connection->sent += chunk.size();
    }
    const bool body_done = connection->sent >= connection->bodySize;
    const bool fault_due = response.fault != Fault::None && connection->sent >= response.faultAfter;
    if (!body_done && !fault_due) {
        return;
    }
    if (connection->socket->bytesToWrite() > 0) {
        return;  // wait until what was promised so far has left
    }
    QTcpSocket* socket = connection->socket;
    if (fault_due && !body_done) {
        switch (response.fault) {
            case Fault::StallMidBody:
                connection->stalled = true;
                return;
            case Fault::ResetMidBody: {
                // Zero linger turns the close into a reset (RST) instead of an orderly end.
                const struct linger hard = {1, 0};
                ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
                socket->abort();
                if (Connection* open = m_connections.value(socket)) {
                    finish(open);
                }
                return;
            }
            case Fault::CloseEarly:
            case Fault::None:
                break;
        }
    }
    socket->disconnectFromHost();
}

void HttpServer::resumeStalled() {
    const QList<Connection*> connections = m_connections.values();
    for (Connection* connection : connections) {
        if (connection->stalled) {
            connection->stalled = false;
            connection->response.fault = Fault::None;
            pump(connection);
        }
    }
}

void HttpServer::finish(Connection* connection) {
    m_connections.remove(connection->socket);
    connection->socket->disconnect(this);
    connection->socket->deleteLater();
    delete connection;
}
