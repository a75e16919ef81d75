#include "ZipBuilder.h"

#include <QtEndian>
#include <zlib.h>

namespace {

constexpr qint64 zeroBlock = 1024 * 1024;
constexpr quint16 utf8Names = 0x0800;
constexpr quint16 madeByUnix = 0x031e;
constexpr quint16 dosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;

// Raw deflate (no zlib header) of data; with fullFlush the output ends on a byte boundary
// and the next input starts with a fresh dictionary, so such pieces can be concatenated.
class Deflater {
public:
    Deflater() {
        deflateInit2(&m_stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    }
    ~Deflater() { deflateEnd(&m_stream); }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    QByteArray deflate(const QByteArray &data, int flush) {
        QByteArray out;
        QByteArray buffer(64 * 1024, Qt::Uninitialized);
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
        m_stream.avail_in = uInt(data.size());
        do {
            m_stream.next_out = reinterpret_cast<Bytef *>(buffer.data());
            m_stream.avail_out = uInt(buffer.size());
            ::deflate(&m_stream, flush);
            out.append(buffer.constData(), buffer.size() - qsizetype(m_stream.avail_out));
        } while (m_stream.avail_out == 0);
        return out;
    }

private:
    z_stream m_stream{};
};

quint32 crcOf(const QByteArray &data) {
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
}

template <typename T> void put(QByteArray &out, T value) {
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

} // namespace

ZipBuilder &ZipBuilder::file(const QString &name, const QByteArray &data, int permissions) {
    const QByteArray deflated = Deflater().deflate(data, Z_FINISH);
    m_entries.append(Entry{.name = name.toUtf8(),
                           .method = 8,
                           .crc = crcOf(data),
                           .compressedSize = quint32(deflated.size()),
                           .size = quint32(data.size()),
                           .mode = 0100000u | quint32(permissions),
                           .data = deflated});
    return *this;
}

ZipBuilder &ZipBuilder::zeros(const QString &name, qint64 size) {
    Q_ASSERT(size >= 0 && size < (qint64(1) << 32));
    const QByteArray block(zeroBlock, '\0');
    const quint32 blockCrc = crcOf(block);
    Deflater deflater;
    const QByteArray blockDeflated = deflater.deflate(block, Z_FULL_FLUSH);
    QByteArray data;
    uLong crc = 0;
    for (qint64 done = 0; done + zeroBlock <= size; done += zeroBlock) {
        data += blockDeflated;
        crc = crc32_combine(crc, blockCrc, zeroBlock);
    }
    const QByteArray rest(size % zeroBlock, '\0');
    data += deflater.deflate(rest, Z_FINISH);
    crc = crc32_combine(crc, crcOf(rest), rest.size());
    m_entries.append(Entry{.name = name.toUtf8(),
                           .method = 8,
                           .crc = quint32(crc),
                           .compressedSize = quint32(data.size()),
                           .size = quint32(size),
                           .mode = 0100644u,
                           .data = data});
    return *this;
}

ZipBuilder &ZipBuilder::directory(const QString &name) {
    Entry entry;
    entry.name = name.toUtf8() + '/';
    entry.mode = 040755u;
    m_entries.append(entry);
    return *this;
}

ZipBuilder &ZipBuilder::symlink(const QString &name, const QString &target) {
    const QByteArray data = target.toUtf8();
    m_entries.append(Entry{.name = name.toUtf8(),
                           .method = 0,
                           .crc = crcOf(data),
                           .compressedSize = quint32(data.size()),
                           .size = quint32(data.size()),
                           .mode = 0120777u,
                           .data = data});
    return *this;
}

QByteArray ZipBuilder::build() const {
    QByteArray out;
    QByteArray central;
    for (const Entry &entry : m_entries) {
        const auto offset = quint32(out.size());
        put<quint32>(out, 0x04034b50);
        put<quint16>(out, 20);
        put<quint16>(out, utf8Names);
        put<quint16>(out, entry.method);
        put<quint16>(out, 0);
        put<quint16>(out, dosDate);
        put<quint32>(out, entry.crc);
        put<quint32>(out, entry.compressedSize);
        put<quint32>(out, entry.size);
        put<quint16>(out, quint16(entry.name.size()));
        put<quint16>(out, 0);
        out += entry.name;
        out += entry.data;

        put<quint32>(central, 0x02014b50);
        put<quint16>(central, madeByUnix);
        put<quint16>(central, 20);
        put<quint16>(central, utf8Names);
        put<quint16>(central, entry.method);
        put<quint16>(central, 0);
        put<quint16>(central, dosDate);
        put<quint32>(central, entry.crc);
        put<quint32>(central, entry.compressedSize);
        put<quint32>(central, entry.size);
        put<quint16>(central, quint16(entry.name.size()));
        put<quint16>(central, 0); // extra field
        put<quint16>(central, 0); // comment
        put<quint16>(central, 0); // disk
        put<quint16>(central, 0); // internal attributes
        put<quint32>(central, entry.mode << 16);
        put<quint32>(central, offset);
        central += entry.name;
    }
    const auto centralOffset = quint32(out.size());
    out += central;
    put<quint32>(out, 0x06054b50);
    put<quint16>(out, 0);
    put<quint16>(out, 0);
    put<quint16>(out, quint16(m_entries.size()));
    put<quint16>(out, quint16(m_entries.size()));
    put<quint32>(out, quint32(central.size()));
    put<quint32>(out, centralOffset);
    put<quint16>(out, 0);
    return out;
}
