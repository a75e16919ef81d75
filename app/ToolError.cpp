#include "ToolError.h"

QString ToolError::message() const {
    struct Message {
        QString operator()(const Http &e) const {
            const QString host = e.address.host();
            const QString where = host.isEmpty() ? e.address.toString() : host;
            return u"Server returned " + QString::number(e.status) + u" for " + where + u'.';
        }
        QString operator()(const NoChecksum &e) const {
            return u"No published checksum was found for " + e.tool + u'.';
        }
        QString operator()(const ChecksumMismatch &e) const {
            return e.tool + u" failed its checksum check, so it was not installed.";
        }
        QString operator()(const Unzip &e) const { return u"Could not unpack " + e.archive + u'.'; }
        QString operator()(const NotRunnable &e) const {
            return e.tool + u" was installed but does not start.";
        }
    };
    return std::visit(Message{}, m_case);
}
