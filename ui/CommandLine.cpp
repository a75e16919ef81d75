#include "CommandLine.h"

CommandLine::Request CommandLine::parse(const QStringList &arguments) {
    bool help = false;
    bool version = false;
    std::optional<QString> unknown;
    QStringList links;
    bool options = true;
    for (const QString &argument : arguments) {
        if (options && argument == u"--")
            options = false;
        else if (options && (argument == u"-h" || argument == u"--help"))
            help = true;
        else if (options && (argument == u"-v" || argument == u"--version"))
            version = true;
        else if (options && argument.startsWith(u'-') && argument.size() > 1)
            unknown = unknown.value_or(argument);
        else
            links.append(argument);
    }
    if (help)
        return Help{};
    if (version)
        return Version{};
    if (unknown)
        return UnknownOption{*unknown};
    return Open{links};
}

QString CommandLine::helpText() {
    return u"Usage: tovik [OPTION]... [LINK]...\n"
           "Save online videos, or only their audio, with yt-dlp.\n"
           "\n"
           "Opens Tovik's window and adds every web link given to its download queue, with\n"
           "the format, folder and playlist choice the window shows, as pressing Download\n"
           "would. Links wait until the tools Tovik needs are installed. When Tovik is\n"
           "already running, its window takes the links and comes to the front.\n"
           "\n"
           "Options:\n"
           "  -h, --help     display this help and exit\n"
           "  -v, --version  output version information and exit\n"
           "  --             treat every argument after it as a link\n"_qs;
}

QString CommandLine::versionText(const QString &version) {
    return u"tovik %1\n"
           "Copyright (C) 2026 The Tovik developers\n"
           "License GPLv3+: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n"_qs.arg(version);
}
