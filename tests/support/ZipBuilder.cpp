#include "ZipBuilder.h"

#include <initializer_list>
#include <string_view>
#include <zlib.h>

namespace {

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

ZipBuilder &ZipBuilder::add(const QString &name, quint32 mode, const QByteArray &data, bool deflate,
                            qint64 announced) {
    constexpr quint32 utf8Names = 0x0800, dosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;
    // qCompress writes the length, then a zlib stream: a 2-byte header, raw deflate and a
    // 4-byte checksum. For no data it writes only the length; raw deflate of nothing is one
    // empty final block.
    const QByteArray stored = !deflate         ? data
                              : data.isEmpty() ? QByteArray("\3\0", 2)
                                               : qCompress(data, 1).mid(6).chopped(4);
    const auto crc =
        quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
    const auto size = quint32(announced < 0 ? data.size() : announced);
    const QByteArray utf8 = name.toUtf8();
    const auto offset = quint32(m_local.size());
    // From "version needed" to the extra field's length, the same in both headers.
    for (QByteArray *out : {&m_local, &m_central}) {
        if (out == &m_local)
            put(*out, "4", {0x04034b50});
        else
            put(*out, "42", {0x02014b50, 0x031e}); // made by Unix
        put(*out, "2222244422",
            {20, utf8Names, deflate ? 8u : 0u, 0, dosDate, crc, quint32(stored.size()), size,
             quint32(utf8.size()), 0});
    }
    m_local += utf8 + stored;
    // Comment length, disk, internal and external attributes, offset of the local header.
    put(m_central, "22244", {0, 0, 0, mode << 16, offset});
    m_central += utf8;
    ++m_count;
    return *this;
}

QByteArray ZipBuilder::build() const {
    QByteArray out = m_local + m_central;
    put(out, "42222442",
        {0x06054b50, 0, 0, m_count, m_count, quint32(m_central.size()), quint32(m_local.size()),
         0});
    return out;
}
