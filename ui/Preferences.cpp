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
    // A boolean, or its text as QSettings writes it to a file; anything else is the default.
    const QVariant stored = m_settings.value(playlistKey);
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool();
    return stored.typeId() == QMetaType::QString && stored.toString() == u"true";
}

void Preferences::setIncludePlaylist(bool include) {
    m_settings.setValue(playlistKey, include);
}

QString Preferences::outputPath() const {
    // A relative path would name a folder under whatever the working directory happens to be.
    const QVariant stored = m_settings.value(folderKey);
    if (stored.typeId() != QMetaType::QString || !QDir::isAbsolutePath(stored.toString()))
        return defaultOutputPath();
    return stored.toString();
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
