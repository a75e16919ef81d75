#include "ToolSources.h"

ToolSources ToolSources::production() {
    const Platform platform = Platform::current();
    return {QUrl(u"https://github.com"_qs), QUrl(u"https://api.github.com"_qs),
            QUrl(u"https://ffmpeg.martin-riedl.de"_qs), platform.systemFFmpeg, platform};
}
