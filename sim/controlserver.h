#pragma once

#include <QByteArray>
#include <QString>
#include <string>
#include <vector>

namespace HidSim {

// The live control of the bus from other processes: a unix stream socket that takes one JSON object per
// line and answers each with one line (docs/hidsim.md). It runs on the bus's service thread only.
class ControlServer {
public:
    ControlServer() = default;
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Binds and listens on path; a stale socket file left by a dead process is replaced, a live one is not.
    [[nodiscard]] static int listen(const QString& path, QString* error);

    // Takes over a listening socket (or, with -1, stops listening) and closes every client.
    void adopt(int listenFd, const std::string& path);
    // Waits for the wake pipe, a new client or a request, at most timeoutMs (-1: no limit).
    void poll(int wakeFd, int timeoutMs);

    // One request line to its reply line, without the newline.
    [[nodiscard]] static QByteArray handle(const QByteArray& line);

private:
    struct Client {
        int fd;
        QByteArray buffer;
    };

    int m_listenFd = -1;
    std::string m_path;
    std::vector<Client> m_clients;
};

}  // namespace HidSim
