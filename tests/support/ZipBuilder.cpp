#include "ZipBuilder.h"

#include <initializer_list>
#include <string_view>
#include <zlib.h>

namespace {

constexpr qint64 zeroBlock = 1024 * 1024;

// Raw deflate (no zlib header): the block repeated, then the data.
QByteArray deflated(const QByteArray &data, const QByteArray &block = {}, qint64 blocks = 0) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    const auto run = [&stream](const QByteArray &in, int flush) {
        QByteArray out;
        QByteArray buffer(64 * 1024, Qt::Uninitialized);
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
        stream.avail_in = uInt(in.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer.data());
            stream.avail_out = uInt(buffer.size());
            deflate(&stream, flush);
            out.append(buffer.constData(), buffer.size() - qsizetype(stream.avail_out));
        } while (stream.avail_out == 0);
        return out;
    };
    // A full flush ends the block's output on a byte boundary with a fresh dictionary after
    // it, so copies of that output can be concatenated.
    QByteArray out = blocks > 0 ? run(block, Z_FULL_FLUSH).repeated(blocks) : QByteArray();
    out += run(data, Z_FINISH);
    deflateEnd(&stream);
    return out;
}

quint32 crcOf(const QByteArray &data) {
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
}

// Appends each value little-endian in as many bytes as the matching digit of widths says.
void put(QByteArray &out, std::string_view widths, std::initializer_list<quint32> values) {
    const quint32 *value = std::data(values);
    for (const char width : widths) {
        for (int byte = 0; byte < width - '0'; ++byte)
            out.append(char(*value >> (8 * byte)));
        ++value;
    }
}

} // namespace

ZipBuilder &ZipBuilder::add(const QString &name, quint32 mode, quint32 method, quint32 crc,
                            quint32 size, const QByteArray &data) {
    constexpr quint32 utf8Names = 0x0800, dosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;
    const QByteArray utf8 = name.toUtf8();
    const auto offset = quint32(m_local.size());
    // From "version needed" to the extra field's length, the same in both headers.
    for (QByteArray *out : {&m_local, &m_central}) {
        if (out == &m_local)
            put(*out, "4", {0x04034b50});
        else
            put(*out, "42", {0x02014b50, 0x031e}); // made by Unix
        put(*out, "2222244422",
            {20, utf8Names, method, 0, dosDate, crc, quint32(data.size()), size,
             quint32(utf8.size()), 0});
    }
    m_local += utf8 + data;
    // Comment length, disk, internal and external attributes, offset of the local header.
    put(m_central, "22244", {0, 0, 0, mode << 16, offset});
    m_central += utf8;
    ++m_count;
    return *this;
}

ZipBuilder &ZipBuilder::file(const QString &name, const QByteArray &data, int permissions) {
    return add(name, 0100000u | quint32(permissions), 8, crcOf(data), quint32(data.size()),
               deflated(data));
}

ZipBuilder &ZipBuilder::zeros(const QString &name, qint64 size) {
    Q_ASSERT(size >= 0 && size < (qint64(1) << 32));
    const QByteArray block(zeroBlock, '\0');
    const QByteArray rest(size % zeroBlock, '\0');
    const quint32 blockCrc = crcOf(block);
    uLong crc = 0;
    for (qint64 i = 0; i < size / zeroBlock; ++i)
        crc = crc32_combine(crc, blockCrc, zeroBlock);
    crc = crc32_combine(crc, crcOf(rest), rest.size());
    return add(name, 0100644u, 8, quint32(crc), quint32(size),
               deflated(rest, block, size / zeroBlock));
}

ZipBuilder &ZipBuilder::symlink(const QString &name, const QString &target) {
    const QByteArray data = target.toUtf8();
    return add(name, 0120777u, 0, crcOf(data), quint32(data.size()), data);
}

QByteArray ZipBuilder::build() const {
    QByteArray out = m_local + m_central;
    put(out, "42222442",
        {0x06054b50, 0, 0, m_count, m_count, quint32(m_central.size()), quint32(m_local.size()),
         0});
    return out;
}
