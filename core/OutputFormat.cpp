#include "OutputFormat.h"

QList<OutputFormat> allOutputFormats() {
    return {OutputFormat::video1080, OutputFormat::video720, OutputFormat::video480,
            OutputFormat::audio};
}

QString rawValue(OutputFormat format) {
    switch (format) {
    case OutputFormat::video1080:
        return QStringLiteral("video1080");
    case OutputFormat::video720:
        return QStringLiteral("video720");
    case OutputFormat::video480:
        return QStringLiteral("video480");
    case OutputFormat::audio:
        return QStringLiteral("audio");
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<OutputFormat> outputFormatFromRawValue(const QString &raw) {
    for (OutputFormat format : allOutputFormats()) {
        if (rawValue(format) == raw)
            return format;
    }
    return std::nullopt;
}

QString label(OutputFormat format) {
    switch (format) {
    case OutputFormat::video1080:
        return QStringLiteral("Video \u2014 up to 1080p");
    case OutputFormat::video720:
        return QStringLiteral("Video \u2014 up to 720p");
    case OutputFormat::video480:
        return QStringLiteral("Video \u2014 up to 480p");
    case OutputFormat::audio:
        return QStringLiteral("Audio only (M4A)");
    }
    Q_UNREACHABLE();
    return {};
}

int expectedParts(OutputFormat format) {
    return format == OutputFormat::audio ? 1 : 2;
}

std::optional<int> heightCap(OutputFormat format) {
    switch (format) {
    case OutputFormat::video1080:
        return 1080;
    case OutputFormat::video720:
        return 720;
    case OutputFormat::video480:
        return 480;
    case OutputFormat::audio:
        return std::nullopt;
    }
    Q_UNREACHABLE();
    return std::nullopt;
}
