#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// A failure described by the platform (Qt's errorString(), a file system or JSON error):
// the user reads the description unchanged. Thrown and caught inside coroutines only.
class PlatformError : public std::exception {
public:
    explicit PlatformError(QString description)
        : m_description(std::move(description)), m_utf8(m_description.toUtf8()) {}

    const QString &message() const { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};
