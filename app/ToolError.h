#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <exception>
#include <variant>

// The tool subsystem's own failures, each with a fixed message for the setup screen.
// Thrown and caught inside coroutines only.
class ToolError : public std::exception {
public:
    struct Http {
        int status = 0;
        QUrl address; // the address that was requested, before any redirect
        friend bool operator==(const Http &, const Http &) = default;
    };
    struct NoChecksum {
        QString tool;
        friend bool operator==(const NoChecksum &, const NoChecksum &) = default;
    };
    struct ChecksumMismatch {
        QString tool;
        friend bool operator==(const ChecksumMismatch &, const ChecksumMismatch &) = default;
    };
    struct Unzip {
        QString archive; // the archive's file name
        friend bool operator==(const Unzip &, const Unzip &) = default;
    };
    struct NotRunnable {
        QString tool;
        friend bool operator==(const NotRunnable &, const NotRunnable &) = default;
    };
    using Case = std::variant<Http, NoChecksum, ChecksumMismatch, Unzip, NotRunnable>;

    template <typename T>
    requires std::is_constructible_v<Case, T> ToolError(T error)
        : m_case(std::move(error)), m_utf8(message().toUtf8()) {}

    const Case &errorCase() const { return m_case; }
    QString message() const;
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    Case m_case;
    QByteArray m_utf8;
};
