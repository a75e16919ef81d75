#pragma once

#include <QString>
#include <optional>
#include <variant>

// One meaningful line of yt-dlp's output: one of the four cases below.
struct YTDLPEvent {
    // A new item (a video, or the next playlist entry) is being processed.
    struct Item {
        QString id;
        std::optional<qint64> index;
        std::optional<qint64> count;
        QString title;
        friend bool operator==(const Item &, const Item &) = default;
    };

    // A download progress report for one media part.
    struct Progress {
        QString id;
        bool finished = false;
        std::optional<qint64> downloaded;
        std::optional<qint64> total;
        std::optional<double> speed;
        std::optional<qint64> eta;
        // For a download in fragments: how many are done, and how many there are.
        std::optional<qint64> fragmentIndex = {};
        std::optional<qint64> fragmentCount = {};
        friend bool operator==(const Progress &, const Progress &) = default;
    };

    // A final file has been moved into place.
    struct File {
        QString id;
        QString path;
        friend bool operator==(const File &, const File &) = default;
    };

    // yt-dlp's own "ERROR: " line, reduced to its message.
    struct Error {
        QString message;
        friend bool operator==(const Error &, const Error &) = default;
    };

    using Case = std::variant<Item, Progress, File, Error>;

    template <typename T>
    requires std::is_constructible_v<Case, T> YTDLPEvent(T event) : value(std::move(event)) {}

    Case value;
    friend bool operator==(const YTDLPEvent &, const YTDLPEvent &) = default;
};
