#pragma once

#include <QByteArray>
#include <QString>

// Writes zip archives byte by byte for tests, including ones no honest tool would make:
// names with "..", absolute names, links that point anywhere, sizes that lie.
class ZipBuilder {
public:
    // A regular file, deflated, with Unix permission bits; its headers announce the given
    // unpacked size instead of the real one when there is one.
    ZipBuilder &file(const QString &name, const QByteArray &data, int permissions = 0644,
                     qint64 announced = -1) {
        return add(name, 0100000u | quint32(permissions), data, true, announced);
    }
    ZipBuilder &directory(const QString &name) { return add(name + u'/', 040755, {}, false); }
    ZipBuilder &symlink(const QString &name, const QString &target) {
        return add(name, 0120777, target.toUtf8(), false);
    }

    QByteArray build() const;

private:
    // mode: st_mode; data: unpacked, stored as it is unless deflated.
    ZipBuilder &add(const QString &name, quint32 mode, const QByteArray &data, bool deflate,
                    qint64 announced = -1);

    QByteArray m_local, m_central; // the local headers with the data; the central directory
    quint32 m_count = 0;
};
