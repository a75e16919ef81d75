#pragma once

#include <QString>
#include <QtGlobal>

// Unpacks zip archives with libarchive. Blocking: callers run it off the main thread.
namespace ZipExtractor {

// The most an archive may unpack to, summed over its entries.
inline constexpr qint64 maxUnpackedBytes = qint64(2) << 30;

// Unpacks the archive into the folder (created if missing), keeping the archive's tree and
// the entries' permission bits. Returns false, having checked every entry before writing
// anything, when the archive is damaged, holds an entry that would land outside the folder
// (absolute path, ".." component, hard link, special file, symbolic link that is absolute or
// climbs with ".."), or would unpack to more than maxUnpackedBytes. Returns false as well
// when writing fails; what was written until then stays in the folder.
bool extract(const QString &archive, const QString &folder);

} // namespace ZipExtractor
