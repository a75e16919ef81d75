#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>
#include <optional>

// Collects byte chunks from a child's output and hands out complete UTF-8 text lines.
// Only a line feed ends a line; one trailing carriage return is dropped from each line.
class LineBuffer {
public:
    QStringList append(QByteArrayView data);
    std::optional<QString> flush();

private:
    QByteArray m_pending; // never holds a line feed between calls
};
