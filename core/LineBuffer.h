#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>
#include <optional>

// Collects byte chunks from a child's output and hands out complete UTF-8 text lines.
// Only a line feed ends a line; one trailing carriage return is dropped from each line.
class LineBuffer {
public:
    // The lines completed by one append. They are decoded into one shared text, so a chunk of
    // many lines costs one allocation, not one per line; copies share that text, and the views
    // stay valid as long as any copy lives.
    class Lines {
    public:
        using const_iterator = QList<QStringView>::const_iterator;

        const_iterator begin() const { return m_lines.cbegin(); }
        const_iterator end() const { return m_lines.cend(); }
        qsizetype size() const { return m_lines.size(); }
        bool isEmpty() const { return m_lines.isEmpty(); }
        QStringView operator[](qsizetype index) const { return m_lines[index]; }

    private:
        friend class LineBuffer;
        QString m_text;
        QList<QStringView> m_lines;
    };

    Lines append(QByteArrayView data);
    std::optional<QString> flush();

private:
    QByteArray m_pending; // never holds a line feed between calls
};
