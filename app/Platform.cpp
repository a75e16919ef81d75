#include "Platform.h"

#include <QtGlobal>

Platform Platform::forKind(Kind kind) {
    const QStringList homebrew{u"/opt/homebrew/bin/ffmpeg"_qs, u"/usr/local/bin/ffmpeg"_qs};
    const QStringList system{u"/usr/bin/ffmpeg"_qs, u"/usr/local/bin/ffmpeg"_qs};
    switch (kind) {
    case Kind::macOSArm64:
        return {u"yt-dlp_macos"_qs,
                u"deno-aarch64-apple-darwin.zip"_qs,
                u"/redirect/latest/macos/arm64/release/ffmpeg.zip"_qs,
                homebrew,
                u"Using Homebrew"_qs,
                u"Show in Finder"_qs};
    case Kind::macOSX86_64:
        return {u"yt-dlp_macos"_qs,
                u"deno-x86_64-apple-darwin.zip"_qs,
                u"/redirect/latest/macos/amd64/release/ffmpeg.zip"_qs,
                homebrew,
                u"Using Homebrew"_qs,
                u"Show in Finder"_qs};
    case Kind::linuxX86_64:
        return {u"yt-dlp_linux"_qs,
                u"deno-x86_64-unknown-linux-gnu.zip"_qs,
                u"/redirect/latest/linux/amd64/release/ffmpeg.zip"_qs,
                system,
                u"Using system ffmpeg"_qs,
                u"Show in Folder"_qs};
    case Kind::linuxAarch64:
        return {u"yt-dlp_linux_aarch64"_qs,
                u"deno-aarch64-unknown-linux-gnu.zip"_qs,
                u"/redirect/latest/linux/arm64/release/ffmpeg.zip"_qs,
                system,
                u"Using system ffmpeg"_qs,
                u"Show in Folder"_qs};
    }
    Q_UNREACHABLE();
}

Platform Platform::current() {
#if defined(Q_OS_MACOS) && defined(Q_PROCESSOR_ARM_64)
    return forKind(Kind::macOSArm64);
#elif defined(Q_OS_MACOS) && defined(Q_PROCESSOR_X86_64)
    return forKind(Kind::macOSX86_64);
#elif defined(Q_OS_LINUX) && defined(Q_PROCESSOR_X86_64)
    return forKind(Kind::linuxX86_64);
#elif defined(Q_OS_LINUX) && defined(Q_PROCESSOR_ARM_64)
    return forKind(Kind::linuxAarch64);
#else
#error "Tovik is built for macOS and Linux on arm64 and x86_64 only"
#endif
}
