#pragma once

#include <QCoro/QCoroTask>
#include <QUrl>
#include <functional>

// Fetches one file over HTTP(S) to a place on disk.
namespace FileDownload {

// Streams the body of source into destination (a file URL) and returns the address the data
// finally came from, after redirects. progress receives the fraction done, on the main
// thread, only when the server announced the length. The destination is replaced only once
// the whole body has arrived. Throws ToolError::Http with the requested address for a status
// outside 200-299, leaving the destination untouched, and PlatformError with Qt's
// description for transport and file failures. Redirects from https to http are refused.
QCoro::Task<QUrl> fetch(const QUrl &source, const QUrl &destination,
                        std::function<void(double fraction)> progress);

} // namespace FileDownload
