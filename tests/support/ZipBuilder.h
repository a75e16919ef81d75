#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// Writes zip archives byte by byte for tests, including ones no honest tool would make:
// names with "..", absolute names, links that point anywhere.
class ZipBuilder {
public:
    // A regular file, deflated, with Unix permission bits.
    ZipBuilder &file(const QString &name, const QByteArray &data, int permissions = 0644);
    // A regular file of zeros, deflated without ever holding it whole in memory (the size
    // must stay below 4 GiB, the limit of a zip without its 64-bit extension).
    ZipBuilder &zeros(const QString &name, qint64 size);
    ZipBuilder &directory(const QString &name);
    ZipBuilder &symlink(const QString &name, const QString &target);

    QByteArray build() const;

private:
    struct Entry {
        QByteArray name;
        quint16 method = 0; // 0 stored, 8 deflated
        quint32 crc = 0;
        quint32 compressedSize = 0;
        quint32 size = 0;
        quint32 mode = 0; // st_mode: type and permission bits
        QByteArray data;  // as stored in the archive
    };

    QList<Entry> m_entries;
};
