#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSslConfiguration>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <list>
#include <memory>
#include <optional>
#include <utility>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server for tests. It listens on 127.0.0.1 at an ephemeral port, answers
// GET requests from a table of routes, closes each connection after one response, and stops
// when destroyed. Paths without a route get 404.
class HttpServer : public QObject {
    Q_OBJECT

public:
    struct Response {
        int status = 200;
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray body;
        // false: no Content-Length; the body ends when the connection closes.
        bool sendLength = true;
        // Above 0: the body goes out in pieces of this many bytes, one per interval.
        qsizetype chunkSize = 0;
        std::chrono::milliseconds interval{5};
        // Close the connection after this many body bytes, whatever the announced length.
        std::optional<qsizetype> cutAfter;
    };

    // With a TLS configuration the server speaks https.
    explicit HttpServer(std::optional<QSslConfiguration> tls = std::nullopt,
                        QObject *parent = nullptr);
    ~HttpServer() override;

    void route(const QString &path, Response response);
    // Answers path with a redirect to another address (an absolute URL or a path here).
    void redirect(const QString &path, const QUrl &target, int status = 302);

    // The full address of a path on this server.
    QUrl url(const QString &path) const;
    // The paths requested so far, in order of arrival.
    const QStringList &requests() const { return m_requests; }

private:
    struct Connection;

    void accept();
    void handle(Connection &connection);
    void respond(Connection &connection, const Response &response);
    void sendNextChunk(Connection &connection);
    void finish(Connection &connection);

    std::unique_ptr<QTcpServer> m_server;
    bool m_tls = false;
    QHash<QString, Response> m_routes;
    QStringList m_requests;
    std::list<std::unique_ptr<Connection>> m_connections;
};
