#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Writes zip archives byte by byte for tests, including ones no honest tool would make:
// names with "..", absolute names, links that point anywhere.
class ZipBuilder {
public:
    // A regular file, deflated, with Unix permission bits.
    ZipBuilder &file(const QString &name, const QByteArray &data, int permissions = 0644);
    // A regular file of zeros, deflated without ever holding it whole in memory (the size
    // must stay below 4 GiB, the limit of a zip without its 64-bit extension).
    ZipBuilder &zeros(const QString &name, qint64 size);
    ZipBuilder &directory(const QString &name) { return add(name + u'/', 040755, 0, 0, 0, {}); }
    ZipBuilder &symlink(const QString &name, const QString &target);

    QByteArray build() const;

private:
    struct Entry {
        QByteArray name;
        quint32 mode, method, crc, size; // st_mode; 0 stored, 8 deflated; of the unpacked data
        QByteArray data;                 // as stored in the archive
    };
    ZipBuilder &add(const QString &name, quint32 mode, quint32 method, quint32 crc, quint32 size,
                    QByteArray data);

    QList<Entry> m_entries;
};
