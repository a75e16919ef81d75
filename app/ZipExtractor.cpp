#include "ZipExtractor.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <memory>

namespace {

struct ReadDeleter {
    void operator()(archive *a) const { archive_read_free(a); }
};
struct WriteDeleter {
    void operator()(archive *a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReadDeleter>;
using Writer = std::unique_ptr<archive, WriteDeleter>;

constexpr size_t readBlockSize = 64 * 1024;

Reader openZip(const QString &path) {
    Reader reader(archive_read_new());
    if (!reader || archive_read_support_format_zip(reader.get()) != ARCHIVE_OK ||
        archive_read_open_filename(reader.get(), QFile::encodeName(path).constData(),
                                   readBlockSize) != ARCHIVE_OK)
        return nullptr;
    return reader;
}

bool hasParentComponent(const QByteArray &path) {
    const QList<QByteArray> components = path.split('/');
    return std::any_of(components.cbegin(), components.cend(),
                       [](const QByteArray &component) { return component == ".."; });
}

// Whether an entry stays inside the folder it is unpacked into. A symbolic link may only
// point downwards from its own folder: with no ".." in any target, no chain of links can
// climb out, whatever order the archive lists them in.
bool staysInside(archive_entry *entry) {
    const QByteArray name(archive_entry_pathname(entry));
    if (name.isEmpty() || name.startsWith('/') || hasParentComponent(name) ||
        archive_entry_hardlink(entry) != nullptr)
        return false;
    switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
    case AE_IFDIR:
        return true;
    case AE_IFLNK: {
        const QByteArray target(archive_entry_symlink(entry));
        return !target.isEmpty() && !target.startsWith('/') && !hasParentComponent(target);
    }
    default:
        return false;
    }
}

// Whether an entry may be unpacked, adding its announced size to the running total.
bool admit(archive_entry *entry, qint64 &total) {
    if (!staysInside(entry) || !archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0)
        return false;
    total += archive_entry_size(entry);
    return total <= ZipExtractor::maxUnpackedBytes;
}

// Reads every header without unpacking, so that a bad entry anywhere refuses the archive
// before anything is written.
bool admitsAll(const QString &path) {
    const Reader reader = openZip(path);
    if (!reader)
        return false;
    qint64 total = 0;
    archive_entry *entry = nullptr;
    int status = ARCHIVE_OK;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        if (!admit(entry, total))
            return false;
    }
    return status == ARCHIVE_EOF;
}

// Copies one entry's data, never more than the size its header announced.
bool copyData(archive *reader, archive *writer, qint64 announced) {
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return true;
        if (status != ARCHIVE_OK || offset < 0 || offset + qint64(size) > announced ||
            archive_write_data_block(writer, block, size, offset) != ARCHIVE_OK)
            return false;
    }
}

bool unpack(const QString &path, const QByteArray &folder) {
    const Reader reader = openZip(path);
    Writer writer(archive_write_disk_new());
    if (!reader || !writer)
        return false;
    // Entry names are anchored at the folder's canonical path rather than made relative to a
    // changed working directory, which would move it for every thread of the process; so
    // libarchive's own refusal of absolute paths cannot be used, and staysInside() refuses
    // them instead.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME |
                                                     ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                     ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    qint64 total = 0;
    archive_entry *entry = nullptr;
    int status = ARCHIVE_OK;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        // Checked again: the file may have changed since admitsAll() read it.
        if (!admit(entry, total))
            return false;
        const QByteArray target = folder + '/' + QByteArray(archive_entry_pathname(entry));
        archive_entry_copy_pathname(entry, target.constData());
        // Keep the rwx bits (the umask still applies); never set-id or sticky bits.
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        const qint64 announced = archive_entry_size(entry);
        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK ||
            !copyData(reader.get(), writer.get(), announced) ||
            archive_write_finish_entry(writer.get()) != ARCHIVE_OK)
            return false;
    }
    return status == ARCHIVE_EOF && archive_write_close(writer.get()) == ARCHIVE_OK;
}

} // namespace

bool ZipExtractor::extract(const QString &archive, const QString &folder) {
    if (!QDir().mkpath(folder))
        return false;
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty() || !admitsAll(archive))
        return false;
    return unpack(archive, QFile::encodeName(canonical));
}
