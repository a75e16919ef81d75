#pragma once

#include <QHash>
#include <QObject>
#include <QSslConfiguration>
#include <QStringList>
#include <QUrl>
#include <chrono>
#include <optional>

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
        QList<std::pair<QByteArray, QByteArray>> headers = {};
        QByteArray body = {};
        // false: no Content-Length; the body ends when the connection closes.
        bool sendLength = true;
        // Above 0: the body goes out in pieces of this many bytes, one per interval.
        qsizetype chunkSize = 0;
        std::chrono::milliseconds interval{5};
        // Close the connection after this many body bytes, whatever the announced length.
        std::optional<qsizetype> cutAfter = {};
    };

    // With a TLS configuration the server speaks https.
    explicit HttpServer(std::optional<QSslConfiguration> tls = std::nullopt,
                        QObject *parent = nullptr);

    void route(const QString &path, Response response) { m_routes.insert(path, response); }
    // Answers path with a redirect to another address (an absolute URL or a path here).
    void redirect(const QString &path, const QUrl &target, int status = 302);

    // The full address of a path on this server.
    QUrl url(const QString &path) const;
    // The paths requested so far, in order of arrival.
    const QStringList &requests() const { return m_requests; }

private:
    void respond(QTcpSocket *socket, const Response &response);

    QTcpServer *m_server; // a child, and the parent of every connection
    QHash<QString, Response> m_routes;
    QStringList m_requests;
};
