#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server for the update service on loopback: it answers GET with canned responses or
// files streamed from disk, and can misbehave on demand. One request per connection ("Connection: close").
class HttpServer : public QObject {
    Q_OBJECT

public:
    enum class Fault {
        None,
        ResetMidBody,  // sends the headers and faultAfter bytes of the body, then resets the connection
        StallMidBody,  // sends the headers and faultAfter bytes of the body, then nothing more
        CloseEarly,    // sends the headers and faultAfter bytes of the body, then closes cleanly
    };

    struct Response {
        int status = 200;
        QByteArray body;
        QString filePath;  // streamed instead of body when set
        QByteArray location;
        QByteArray contentType = "application/octet-stream";
        Fault fault = Fault::None;
        qint64 faultAfter = 0;
        qint64 lengthOverride = -1;  // Content-Length to announce, when it must differ from the body size
        QByteArray contentEncoding;  // sent as Content-Encoding when set, whatever the client asked for
    };

    // Receives the request target as sent (still percent-encoded) and gives the response.
    using Handler = std::function<Response(const QByteArray& target)>;

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    [[nodiscard]] quint16 port() const;
    // "http://127.0.0.1:<port>", no trailing slash.
    [[nodiscard]] QString baseUrl() const;

    // An exact target answers with this response; routes win over the handler.
    void setRoute(const QByteArray& target, const Response& response);
    void removeRoute(const QByteArray& target);
    void clearRoutes();
    // Answers every target without a route; 404 when there is none.
    void setHandler(Handler handler);

    // Request targets in order of arrival.
    [[nodiscard]] QList<QByteArray> requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // Paces every body to at most this many bytes per second (0: as fast as the socket takes them), as a
    // real link of that speed would.
    void setRate(qint64 bytes_per_second) { m_rate = bytes_per_second; }
    // Sends the rest of every stalled body, as if the network had come back.
    void resumeStalled();
    // Connections whose response has not ended (stalled ones included).
    [[nodiscard]] int openConnections() const { return m_connections.size(); }

    [[nodiscard]] static QByteArray reasonPhrase(int status);

signals:
    void requestReceived(const QByteArray& target);

private:
    struct Connection;

    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);
    void respond(Connection* connection, const Response& response);
    void pump(Connection* connection);
    void finish(Connection* connection);

    QTcpServer* m_server = nullptr;
    QHash<QByteArray, Response> m_routes;
    Handler m_handler;
    QList<QByteArray> m_requests;
    QHash<QTcpSocket*, Connection*> m_connections;
    qint64 m_rate = 0;
};
