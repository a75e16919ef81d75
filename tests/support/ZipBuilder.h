#pragma once

#include <QByteArray>
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
    // mode: st_mode; method: 0 stored, 8 deflated; crc and size: of the unpacked data.
    ZipBuilder &add(const QString &name, quint32 mode, quint32 method, quint32 crc, quint32 size,
                    const QByteArray &data);

    QByteArray m_local, m_central; // the local headers with the data; the central directory
    quint32 m_count = 0;
};
