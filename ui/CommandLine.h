#pragma once

#include <QString>
#include <QStringList>
#include <variant>

// What a start of tovik was asked to do: show its help or version, or open the window with
// the given links queued. Every argument that is no option is link text.
namespace CommandLine {

struct Open {
    QStringList links;
    friend bool operator==(const Open &, const Open &) = default;
};
struct Help {
    friend bool operator==(const Help &, const Help &) = default;
};
struct Version {
    friend bool operator==(const Version &, const Version &) = default;
};
struct UnknownOption {
    QString option;
    friend bool operator==(const UnknownOption &, const UnknownOption &) = default;
};
using Request = std::variant<Open, Help, Version, UnknownOption>;

// The arguments without the program name. Help wins over version, and both over an unknown
// option; "--" ends the options, so what follows it is always link text.
Request parse(const QStringList &arguments);

QString helpText();
QString versionText(const QString &version);

} // namespace CommandLine
