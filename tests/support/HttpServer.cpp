#include "HttpServer.h"

#include <QHostAddress>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

struct HttpServer::Connection {
    std::unique_ptr<QTcpSocket> socket;
    QByteArray request;
    bool answered = false;
    QByteArray body;
    qsizetype sent = 0;
    qsizetype limit = 0;
    qsizetype chunkSize = 0;
    QTimer pacer;
};

namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

HttpServer::HttpServer(std::optional<QSslConfiguration> tls, QObject *parent)
    : QObject(parent), m_tls(tls.has_value()) {
    if (tls) {
        auto server = std::make_unique<QSslServer>();
        server->setSslConfiguration(*tls);
        m_server = std::move(server);
    } else {
        m_server = std::make_unique<QTcpServer>();
    }
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &HttpServer::accept);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qFatal("HttpServer cannot listen on 127.0.0.1: %s", qPrintable(m_server->errorString()));
}

HttpServer::~HttpServer() = default;

void HttpServer::route(const QString &path, Response response) {
    m_routes.insert(path, std::move(response));
}

void HttpServer::redirect(const QString &path, const QUrl &target, int status) {
    const QUrl location = target.isRelative() ? url(target.path()) : target;
    Response response;
    response.status = status;
    response.headers = {{"Location", location.toEncoded()}};
    route(path, std::move(response));
}

QUrl HttpServer::url(const QString &path) const {
    QUrl address;
    address.setScheme(m_tls ? u"https"_qs : u"http"_qs);
    address.setHost(u"127.0.0.1"_qs);
    address.setPort(m_server->serverPort());
    address.setPath(path);
    return address;
}

void HttpServer::accept() {
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(nullptr);
        auto connection = std::make_unique<Connection>();
        connection->socket.reset(socket);
        Connection &c = *connection;
        m_connections.push_back(std::move(connection));
        connect(socket, &QTcpSocket::readyRead, this, [this, &c] { handle(c); });
        connect(&c.pacer, &QTimer::timeout, this, [this, &c] { sendNextChunk(c); });
        handle(c);
    }
}

void HttpServer::handle(Connection &connection) {
    if (connection.answered)
        return;
    connection.request += connection.socket->readAll();
    const qsizetype headerEnd = connection.request.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    connection.answered = true;
    const QList<QByteArray> requestLine =
        connection.request.left(connection.request.indexOf("\r\n")).split(' ');
    const QString target = requestLine.size() == 3 ? QString::fromUtf8(requestLine[1]) : QString();
    m_requests.append(target);
    const auto found = m_routes.constFind(QUrl(target).path());
    if (found != m_routes.cend()) {
        respond(connection, *found);
        return;
    }
    Response missing;
    missing.status = 404;
    missing.body = "no such path\n";
    respond(connection, missing);
}

void HttpServer::respond(Connection &connection, const Response &response) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                      reasonPhrase(response.status) + "\r\nConnection: close\r\n";
    if (response.sendLength)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    head += "\r\n";
    connection.socket->write(head);
    connection.body = response.body;
    connection.limit =
        std::min(response.cutAfter.value_or(response.body.size()), response.body.size());
    connection.chunkSize = response.chunkSize > 0 ? response.chunkSize : connection.limit;
    connection.pacer.setInterval(response.interval);
    sendNextChunk(connection);
    if (connection.sent < connection.limit)
        connection.pacer.start();
}

void HttpServer::sendNextChunk(Connection &connection) {
    const qsizetype size = std::min(connection.chunkSize, connection.limit - connection.sent);
    connection.socket->write(connection.body.mid(connection.sent, size));
    connection.sent += size;
    if (connection.sent >= connection.limit)
        finish(connection);
}

void HttpServer::finish(Connection &connection) {
    connection.pacer.stop();
    // Sends what is still buffered, then closes: the client sees the body end here.
    connection.socket->disconnectFromHost();
}
