#include "Preferences.h"

#include <QDir>
#include <QStandardPaths>

namespace {
const QString formatKey = u"format"_qs;
const QString playlistKey = u"includePlaylist"_qs;
const QString folderKey = u"outputDirectory"_qs;
} // namespace

OutputFormat Preferences::format() const {
    return outputFormatFromRawValue(m_settings.value(formatKey).toString())
        .value_or(OutputFormat::video1080);
}

void Preferences::setFormat(OutputFormat format) {
    m_settings.setValue(formatKey, rawValue(format));
}

bool Preferences::includePlaylist() const {
    return m_settings.value(playlistKey, false).toBool();
}

void Preferences::setIncludePlaylist(bool include) {
    m_settings.setValue(playlistKey, include);
}

QString Preferences::outputPath() const {
    const QString stored = m_settings.value(folderKey).toString();
    return stored.isEmpty() ? defaultOutputPath() : stored;
}

void Preferences::setOutputPath(const QString &path) {
    m_settings.setValue(folderKey, path);
}

QString Preferences::defaultOutputPath() {
    QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (movies.isEmpty())
        movies = QDir::homePath();
    return QDir(movies).filePath(u"Tovik"_qs);
}
