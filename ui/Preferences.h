#pragma once

#include "OutputFormat.h"

#include <QSettings>
#include <QString>

// The main view's three stored choices. A value is written only when the user changes it;
// until then, and whenever the stored value does not read as one of its kind, its default
// is used.
class Preferences {
public:
    OutputFormat format() const;
    void setFormat(OutputFormat format);
    bool includePlaylist() const;
    void setIncludePlaylist(bool include);
    QString outputPath() const;
    void setOutputPath(const QString &path);

    // "Tovik" in the user's Movies folder (Videos on Linux), not created here.
    static QString defaultOutputPath();

private:
    QSettings m_settings{u"Tovik"_qs, u"Tovik"_qs};
};
