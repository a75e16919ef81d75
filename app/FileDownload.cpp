#include "FileDownload.h"

#include "PlatformError.h"
#include "ToolError.h"

#include <QCoro/QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <memory>
#include <optional>

namespace {

std::optional<int> httpStatus(const QNetworkReply &reply) {
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return std::nullopt;
    return status.toInt();
}

bool isSuccess(std::optional<int> status) {
    return !status || (*status >= 200 && *status < 300);
}

// The body's length as the server announced it, when it is sent as is.
std::optional<qint64> announcedLength(const QNetworkReply &reply) {
    const QByteArray encoding = reply.rawHeader("Content-Encoding");
    if (!reply.hasRawHeader("Content-Length") || (!encoding.isEmpty() && encoding != "identity"))
        return std::nullopt;
    bool ok = false;
    const qint64 length = reply.rawHeader("Content-Length").trimmed().toLongLong(&ok);
    return ok ? std::optional<qint64>(length) : std::nullopt;
}

// Failures of the connection or the proxy, as opposed to the server's answer.
bool isTransportError(QNetworkReply::NetworkError error) {
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

} // namespace

QCoro::Task<QUrl> FileDownload::fetch(const QUrl &source, const QUrl &destination,
                                      std::function<void(double)> progress) {
    const QUrl requested = source;
    // The body goes to a temporary file beside the destination, which replaces the
    // destination on commit() and is removed otherwise.
    QSaveFile file(destination.toLocalFile());
    if (!file.open(QIODevice::WriteOnly))
        throw PlatformError(file.errorString());

    // A manager of its own per transfer: no cookies, cache or connections outlive it. Qt's
    // default redirect policy follows redirects but never from https to http.
    QNetworkAccessManager network;
    QNetworkRequest request(requested);
    request.setTransferTimeout();
    const std::unique_ptr<QNetworkReply> reply(network.get(request));

    bool writeFailed = false;
    qint64 written = 0;
    QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(), [&] {
        const QByteArray data = reply->readAll();
        // An error page is never written.
        if (!isSuccess(httpStatus(*reply)) || writeFailed)
            return;
        if (file.write(data) != data.size()) {
            writeFailed = true;
            reply->abort();
        }
        written += data.size();
    });
    // Qt reports a total at the end even when the server announced none; only an announced
    // length makes a fraction.
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(),
                     [&](qint64 received, qint64 total) {
                         if (progress && total >= 1 && reply->hasRawHeader("Content-Length") &&
                             isSuccess(httpStatus(*reply)))
                             progress(double(received) / double(total));
                     });

    co_await qCoro(reply.get()).waitForFinished();

    if (writeFailed)
        throw PlatformError(file.errorString());
    if (isTransportError(reply->error()))
        throw PlatformError(reply->errorString());
    if (const std::optional<int> status = httpStatus(*reply); !isSuccess(status))
        throw ToolError(ToolError::Http{*status, requested});
    if (reply->error() != QNetworkReply::NoError)
        throw PlatformError(reply->errorString());
    // Qt sometimes takes a body cut short as complete when the connection closes in the same
    // packet; an announced length tells. A compressed body has another length once decoded.
    if (const std::optional<qint64> length = announcedLength(*reply); length && *length != written)
        throw PlatformError(u"Connection closed before the whole file arrived."_qs);
    if (!file.commit())
        throw PlatformError(file.errorString());
    co_return reply->url();
}
