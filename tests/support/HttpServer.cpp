#include "HttpServer.h"

#include <QSslServer>
#include <QTimer>

HttpServer::HttpServer(std::optional<QSslConfiguration> tls, QObject *parent)
    : QObject(parent), m_server(tls ? new QSslServer(this) : new QTcpServer(this)) {
    if (tls)
        static_cast<QSslServer *>(m_server)->setSslConfiguration(*tls);
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            // Reads until the request's head is complete, then answers once.
            const auto read = [this, socket, request = std::make_shared<QByteArray>()] {
                *request += socket->readAll();
                if (!request->contains("\r\n\r\n"))
                    return;
                disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
                const QList<QByteArray> line = request->left(request->indexOf("\r\n")).split(' ');
                m_requests.append(line.size() == 3 ? QString::fromUtf8(line[1]) : QString());
                const Response missing{.status = 404, .body = "no such path\n"};
                respond(socket, m_routes.value(QUrl(m_requests.last()).path(), missing));
            };
            connect(socket, &QTcpSocket::readyRead, this, read);
            read();
        }
    });
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qFatal("HttpServer cannot listen on 127.0.0.1: %s", qPrintable(m_server->errorString()));
}

void HttpServer::redirect(const QString &path, const QUrl &target, int status) {
    const QUrl location = target.isRelative() ? url(target.path()) : target;
    route(path, {.status = status, .headers = {{"Location", location.toEncoded()}}});
}

QUrl HttpServer::url(const QString &path) const {
    QUrl address(qobject_cast<QSslServer *>(m_server) ? u"https://127.0.0.1"_qs
                                                      : u"http://127.0.0.1"_qs);
    address.setPort(m_server->serverPort());
    address.setPath(path);
    return address;
}

void HttpServer::respond(QTcpSocket *socket, const Response &response) {
    // Clients read the status code; the reason phrase is free text.
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\nConnection: close\r\n";
    if (response.sendLength)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    socket->write(head + "\r\n");
    const QByteArray body = response.body.left(response.cutAfter.value_or(response.body.size()));
    auto *pacer = new QTimer(socket);
    // Sends the next piece; after the last, closes once what is buffered has gone out, so the
    // client sees the body end here.
    const auto send = [socket, pacer, body, sent = std::make_shared<qsizetype>(0),
                       piece = response.chunkSize > 0 ? response.chunkSize : body.size()] {
        socket->write(body.mid(*sent, piece));
        if ((*sent += piece) < body.size())
            return;
        pacer->stop();
        socket->disconnectFromHost();
    };
    connect(pacer, &QTimer::timeout, socket, send);
    pacer->start(response.interval);
    send();
}
