#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// Picks the published SHA-256 of one file out of a checksum file's text: either a list of
// "digest  name" lines, or a file that holds only the digest of the file it accompanies.
namespace Checksums {
std::optional<QString> sha256(QStringView fileName, QStringView text);
}
