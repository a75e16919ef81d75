#include "DownloadJob.h"
#include "ErrorText.h"
#include "JobRow.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <cmath>
#include <functional>
#include <limits>

// Puts download jobs into any state through the same event handling the job runner uses
// where it can.
class TestJobs {
public:
    using Drive = std::function<void(DownloadJob &)>;
    static Drive run(QList<YTDLPEvent> events, std::optional<DownloadJob::State> end = {},
                     const QString &warning = {}, std::pair<qint64, qint64> playlist = {}) {
        return [=](DownloadJob &job) {
            for (const YTDLPEvent &event : events)
                job.handle(event);
            if (end)
                job.setState(*end);
            if (!warning.isEmpty())
                job.setWarning(warning);
            // yt-dlp never reports a playlist position without a title; the row copes anyway.
            if (playlist.second > 0) {
                job.m_playlistIndex = playlist.first;
                job.m_playlistCount = playlist.second;
            }
        };
    }
};

using Drive = TestJobs::Drive;
using A = JobRow::Action;
// How a row looks and what its button does.
struct Look {
    JobRow::StatusIcon icon;
    bool bar = false;
    bool error = false;
    std::optional<A> action;
};
Q_DECLARE_METATYPE(Drive)
Q_DECLARE_METATYPE(Look)
Q_DECLARE_METATYPE(OutputFormat)
Q_DECLARE_METATYPE(Tint)

namespace {

YTDLPEvent item(std::optional<qint64> index = {}, std::optional<qint64> count = {},
                const QString &title = u"Clip"_qs) {
    return YTDLPEvent::Item{u"id"_qs, index, count, title};
}
YTDLPEvent progress(std::optional<double> speed, std::optional<qint64> eta) {
    return YTDLPEvent::Progress{u"id"_qs, false, 400, 1000, speed, eta};
}
const YTDLPEvent partDone = YTDLPEvent::Progress{u"id"_qs, true, 1000, 1000, {}, {}};
YTDLPEvent file(const QString &name) {
    return YTDLPEvent::File{u"id"_qs, u"/tmp/out/"_qs + name};
}

double luminance(const QColor &color) {
    const auto channel = [](float f) {
        const double c = f;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

// A translucent colour as it shows on the background.
QColor over(const QColor &color, const QColor &background) {
    const float a = color.alphaF();
    return QColor::fromRgbF(color.redF() * a + background.redF() * (1 - a),
                            color.greenF() * a + background.greenF() * (1 - a),
                            color.blueF() * a + background.blueF() * (1 - a));
}

double contrast(const QColor &a, const QColor &b) {
    const auto [dark, light] = std::minmax({luminance(a), luminance(b)});
    return (light + 0.05) / (dark + 0.05);
}

int pixelsAbove(const QImage &image, int alpha = 200) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > alpha ? 1 : 0;
    return count;
}

} // namespace

class TestJobRow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statusActionAndMenu_data() {
        QTest::addColumn<OutputFormat>("format");
        QTest::addColumn<Drive>("drive");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Look>("look");
        const auto v720 = OutputFormat::video720;
        const auto audio = OutputFormat::audio;
        const Look waiting{{Symbol::clock, Tint::secondary}, false, false, A::cancel};
        const Look loading{{Symbol::arrowDownCircle, Tint::accent}, true, false, A::cancel};
        const Look working{{Symbol::gearshape2, Tint::accent}, true, false, A::cancel};
        const Look saved{{Symbol::checkmarkCircleFill, Tint::green}, false, false, A::reveal};
        const Look empty{{Symbol::checkmarkCircleFill, Tint::green}, false, false, {}};
        const Look warned{
            {Symbol::exclamationmarkCircleFill, Tint::orange}, false, false, A::reveal};
        const Look stopped{{Symbol::xmarkCircle, Tint::secondary}, false, false, A::retry};
        const Look failed{{Symbol::exclamationmarkTriangleFill, Tint::red}, false, true, A::retry};
        const DownloadJob::State downloading = DownloadJob::Downloading{};
        const auto progressed = [](std::optional<double> speed, std::optional<qint64> eta) {
            return TestJobs::run({item(), progress(speed, eta)});
        };

        QTest::newRow("queued") << v720 << Drive([](DownloadJob &) {}) << u"Waiting…"_qs << waiting;
        QTest::newRow("started, no title yet")
            << v720 << TestJobs::run({}, downloading) << u"Starting…"_qs << loading;
        QTest::newRow("started inside a playlist, no title yet")
            << v720 << TestJobs::run({}, downloading, {}, {3, 12}) << u"Starting…"_qs << loading;
        QTest::newRow("playlist item 2 of 5 at 1.5 MB/s, 90 s left")
            << v720 << TestJobs::run({item(2, 5), progress(1.5e6, 90)})
            << u"2 of 5 · Video — up to 720p · 1.5 MB/s · 1:30 left"_qs << loading;
        QTest::newRow("playlist count without index")
            << v720 << TestJobs::run({item({}, 4), progress({}, {})})
            << u"0 of 4 · Video — up to 720p"_qs << loading;
        QTest::newRow("eta 0 has no time part")
            << v720 << progressed(2.3e6, 0) << u"Video — up to 720p · 2.3 MB/s"_qs << loading;
        QTest::newRow("no speed part without a speed")
            << v720 << progressed({}, 75) << u"Video — up to 720p · 1:15 left"_qs << loading;
        QTest::newRow("label alone") << OutputFormat::video1080 << progressed({}, {})
                                     << u"Video — up to 1080p"_qs << loading;
        QTest::newRow("minutes beyond an hour") << OutputFormat::video480 << progressed({}, 3725)
                                                << u"Video — up to 480p · 62:05 left"_qs << loading;
        QTest::newRow("speed truncated to whole bytes")
            << audio << progressed(999.9, {}) << u"Audio only (M4A) · 999 bytes/s"_qs << loading;
        QTest::newRow("infinite speed left out")
            << v720 << progressed(std::numeric_limits<double>::infinity(), 5)
            << u"Video — up to 720p · 0:05 left"_qs << loading;
        QTest::newRow("speed beyond 64 bits left out")
            << v720 << progressed(1e30, {}) << u"Video — up to 720p"_qs << loading;
        QTest::newRow("merging, in a playlist")
            << v720 << TestJobs::run({item(3, 12), partDone, partDone})
            << u"3 of 12 · Merging video and audio…"_qs << working;
        QTest::newRow("extracting audio")
            << audio << TestJobs::run({item(), partDone}) << u"Extracting audio…"_qs << working;
        QTest::newRow("finished audio, one file")
            << audio
            << TestJobs::run({item(2, 5), partDone, file(u"Song.m4a"_qs)}, DownloadJob::Finished{})
            << u"Song.m4a"_qs << saved;
        QTest::newRow("finished with a warning")
            << audio
            << TestJobs::run({item(), partDone, file(u"Song.m4a"_qs)}, DownloadJob::Finished{},
                             u"One item failed: Video unavailable"_qs)
            << u"Song.m4a — One item failed: Video unavailable"_qs << warned;
        QTest::newRow("finished playlist of four")
            << v720
            << TestJobs::run({item(4, 4), file(u"L/a.mp4"_qs), file(u"L/b.mp4"_qs),
                              file(u"L/c.mp4"_qs), file(u"L/d.mp4"_qs)},
                             DownloadJob::Finished{})
            << u"4 files saved"_qs << saved;
        QTest::newRow("finished without files")
            << v720 << TestJobs::run({}, DownloadJob::Finished{}) << u"0 files saved"_qs << empty;
        QTest::newRow("cancelled inside a playlist")
            << v720 << TestJobs::run({item(2, 5), progress(1e6, 3)}, DownloadJob::Cancelled{})
            << u"Cancelled"_qs << stopped;
        QTest::newRow("failed") << v720
                                << TestJobs::run({item(1, 3)},
                                                 DownloadJob::Failed{
                                                     u"Could not start yt-dlp: No such file"_qs})
                                << u"Could not start yt-dlp: No such file"_qs << failed;
    }

    void statusActionAndMenu() {
        QFETCH(OutputFormat, format);
        QFETCH(Drive, drive);
        QFETCH(Look, look);
        DownloadJob job({QUrl(u"https://example.com/v"_qs), format, false,
                         QUrl::fromLocalFile(u"/tmp/out/"_qs)});
        drive(job);
        QTEST(JobRow::statusText(job), "text");
        QVERIFY(JobRow::statusIcon(job) == look.icon);
        QCOMPARE(JobRow::showsProgress(job), look.bar);
        QCOMPARE(JobRow::statusIsError(job), look.error);
        QCOMPARE(JobRow::action(job), look.action);
        // Only ended jobs can be removed; a failed job's message can be copied whole.
        QList<JobRow::MenuItem> menu{JobRow::MenuItem::copyLink};
        if (look.error)
            menu.append(JobRow::MenuItem::copyError);
        if (look.action != A::cancel)
            menu.append(JobRow::MenuItem::remove);
        QCOMPARE(JobRow::menuItems(job), menu);
    }

    void actionSymbols() {
        QCOMPARE(JobRow::actionSymbol(A::cancel), Symbol::xmarkCircleFill);
        QCOMPARE(JobRow::actionSymbol(A::reveal), Symbol::magnifyingglassCircleFill);
        QCOMPARE(JobRow::actionSymbol(A::retry), Symbol::arrowClockwiseCircleFill);
    }

    void titleIsTheLinkUntilKnown() {
        const QString link = u"https://example.com/watch?v=a%20b"_qs;
        DownloadJob job({QUrl(link), OutputFormat::video720, false, {}});
        QCOMPARE(JobRow::title(job), link);
        TestJobs::run({}, DownloadJob::Downloading{})(job);
        QCOMPARE(JobRow::title(job), link);
        TestJobs::run({item(1, 2, u"Café at night"_qs)})(job);
        QCOMPARE(JobRow::title(job), u"Café at night"_qs);
    }

    // Failures of a download are told in plain words; those of the tool setup get a hint.
    void errorText_data() {
        QTest::addColumn<bool>("setup");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        const QString report =
            u"; please report this issue on  https://github.com/yt-dlp/yt-dlp/issues?q= , "
            "filling out the appropriate issue template. Confirm you are on the latest version "
            "using  yt-dlp -U"_qs;
        QTest::newRow("404 with a bug-report request")
            << false
            << u"Unable to download webpage: HTTP Error 404: Not Found (caused by <HTTPError "
               "404: 'Not Found'>)"_qs +
                   report
            << u"The site has no page at this link (HTTP 404). Check the link."_qs;
        QTest::newRow("403 on the video data")
            << false << u"unable to download video data: HTTP Error 403: Forbidden"_qs
            << u"The site refused access to this video (HTTP 403)."_qs;
        QTest::newRow("server error")
            << false << u"Unable to download JSON metadata: HTTP Error 503: Service Unavailable"_qs
            << u"The site had a problem (HTTP 503). Try again later."_qs;
        QTest::newRow("other status keeps its reason")
            << false
            << u"Unable to download webpage: HTTP Error 451: Unavailable For Legal Reasons"_qs
            << u"The site answered with HTTP error 451, “Unavailable For Legal Reasons”."_qs;
        QTest::newRow("unknown host")
            << false
            << u"Unable to download webpage: <urlopen error [Errno -2] Name or service not "
               "known> (caused by URLError(gaierror(-2, 'Name or service not known')))"_qs
            << u"The site could not be reached. Check the link and your internet connection."_qs;
        QTest::newRow("format with command-line advice")
            << false
            << u"Requested format is not available. Use --list-formats for a list of "
               "available formats"_qs
            << u"This video is not offered in the chosen format."_qs;
        QTest::newRow("unsupported link")
            << false << u"Unsupported URL: https://example.com/page"_qs
            << u"Tovik cannot find a video at this link."_qs;
        QTest::newRow("full disk") << false << u"[Errno 28] No space left on device: '/x/a.part'"_qs
                                   << u"The disk is full."_qs;
        QTest::newRow("advice sentences and wiki links left out")
            << false
            << u"Sign in to confirm your age. This video may be inappropriate for some users. "
               "Use --cookies-from-browser or --cookies for the authentication. See  "
               "https://github.com/yt-dlp/yt-dlp/wiki/FAQ  for how to manually pass cookies"_qs
            << u"Sign in to confirm your age. This video may be inappropriate for some users."_qs;
        for (const QString &same : {u"Video unavailable"_qs, u"yt-dlp stopped with code 9."_qs,
                                    u"Use --help for help"_qs})
            QTest::addRow("kept: %s", qPrintable(same)) << false << same << same;

        const QString offline =
            u"Check that this computer is connected to the internet, then try again."_qs;
        for (const QString &message : {u"Host api.github.com not found"_qs,
                                       u"Connection refused"_qs, u"Socket operation timed out"_qs})
            QTest::addRow("setup: %s", qPrintable(message)) << true << message << offline;
        QTest::newRow("setup: TLS")
            << true << u"SSL handshake failed: certificate has expired"_qs
            << u"A secure connection could not be made. Check the computer's date and time and "
               "any proxy settings, then try again."_qs;
        QTest::newRow("setup: server")
            << true << u"Server returned 502 for github.com."_qs
            << u"The download site had a problem. Try again in a few minutes."_qs;
        QTest::newRow("setup: checksum")
            << true << u"deno failed its checksum check, so it was not installed."_qs
            << u"What arrived did not match what its makers published, so it was not kept. Try "
               "again later."_qs;
        QTest::newRow("setup: unpack") << true << u"Could not unpack ffmpeg.zip."_qs
                                       << u"Check that your home folder has free space and can "
                                          "be written to, then try again."_qs;
        QTest::newRow("setup: nothing to say") << true << u"Something odd"_qs << QString();
    }

    void errorText() {
        QFETCH(bool, setup);
        QFETCH(QString, message);
        QTEST(setup ? ErrorText::setupHint(message).value_or(QString())
                    : ErrorText::forDownload(message),
              "shown");
    }

    // Every symbol drawn in its colour only; filled ones cut their glyph out, so that it
    // shows what lies beneath; overlapping strokes of a translucent one do not darken.
    void symbols_data() {
        QTest::addColumn<Symbol>("symbol");
        QTest::addColumn<QPoint>("hole");
        QTest::addColumn<QPoint>("solid");
        for (const Symbol symbol :
             {Symbol::arrowDownCircle, Symbol::folder, Symbol::clock, Symbol::circle,
              Symbol::xmarkCircle, Symbol::gearshape2, Symbol::arrowClockwiseCircleFill})
            QTest::addRow("symbol %d", int(symbol)) << symbol << QPoint() << QPoint();
        QTest::newRow("check") << Symbol::checkmarkCircleFill << QPoint(21, 31) << QPoint(24, 6);
        QTest::newRow("exclamation")
            << Symbol::exclamationmarkCircleFill << QPoint(24, 18) << QPoint(10, 24);
        QTest::newRow("cross") << Symbol::xmarkCircleFill << QPoint(24, 24) << QPoint(24, 8);
        QTest::newRow("triangle") << Symbol::exclamationmarkTriangleFill << QPoint(24, 22)
                                  << QPoint(32, 34);
        QTest::newRow("magnifier")
            << Symbol::magnifyingglassCircleFill << QPoint(29, 29) << QPoint(24, 42);
    }

    void symbols() {
        QFETCH(Symbol, symbol);
        QFETCH(QPoint, hole);
        QFETCH(QPoint, solid);
        const QColor colour(0xd7, 0x26, 0x1e);
        const QImage image =
            Icons::pixmap(symbol, colour, 24, 1).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(24, 24));
        QVERIFY2(pixelsAbove(image) > 20, "too little of the symbol is drawn");
        QVERIFY2(24 * 24 - pixelsAbove(image, 0) > 100, "the symbol fills its square");
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = image.pixel(x, y);
                if (qAlpha(pixel) > 200)
                    QVERIFY(std::abs(qRed(pixel) - colour.red()) <= 2 &&
                            std::abs(qGreen(pixel) - colour.green()) <= 2 &&
                            std::abs(qBlue(pixel) - colour.blue()) <= 2);
            }
        const QImage big = Icons::pixmap(symbol, QColor(0, 0, 0, 140), 48, 1).toImage();
        QCOMPARE(pixelsAbove(big, 140), 0);
        QVERIFY(pixelsAbove(big, 139) > 0);
        if (!hole.isNull()) {
            QCOMPARE(qAlpha(big.pixel(hole)), 0);
            QCOMPARE(qAlpha(big.pixel(solid)), 140);
        }
    }

    void iconsAtEveryRatioAndState() {
        const QIcon icon = Icons::icon(Symbol::checkmarkCircleFill, Qt::darkGreen);
        for (const qreal ratio : {1.0, 1.5, 2.0, 3.0}) {
            const QPixmap pixmap = icon.pixmap(QSize(20, 20), ratio);
            QCOMPARE(pixmap.size(), QSize(qRound(20 * ratio), qRound(20 * ratio)));
            QCOMPARE(pixmap.devicePixelRatio(), ratio);
        }
        // Drawn at twice the pixels, not enlarged: edges stay as sharp as at 1x.
        const QImage sharp = Icons::pixmap(Symbol::circle, Qt::black, 20, 2).toImage();
        int soft = 0;
        for (int x = 0; x < sharp.width(); ++x) {
            const int alpha = qAlpha(sharp.pixel(x, sharp.height() / 2));
            soft += alpha > 0 && alpha < 200 ? 1 : 0;
        }
        QVERIFY2(soft <= 6, qPrintable(u"%1 blurred pixels across the ring"_qs.arg(soft)));
        // Disabled icons are fainter.
        const QIcon ring = Icons::icon(Symbol::circle, Qt::black);
        QVERIFY(pixelsAbove(ring.pixmap(QSize(24, 24), 1, QIcon::Normal).toImage()) > 0);
        QCOMPARE(pixelsAbove(ring.pixmap(QSize(24, 24), 1, QIcon::Disabled).toImage()), 0);
        // The application icon fills its rounded tile.
        for (const int size : {16, 48, 256}) {
            const QImage image = Icons::appImage(size);
            QCOMPARE(image.size(), QSize(size, size));
            QCOMPARE(qAlpha(image.pixel(size / 2, size / 8)), 255);
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        }
        QVERIFY(!Icons::appIcon().isNull());
    }

    void tintsStandOut_data() {
        QTest::addColumn<QPalette>("palette");
        const std::unique_ptr<QStyle> fusion(QStyleFactory::create(u"Fusion"_qs));
        const QPalette light = fusion->standardPalette();
        const auto dark = [&light](const QColor &highlight) {
            QPalette palette = light;
            palette.setColor(QPalette::Window, QColor(0x2a, 0x2a, 0x2d));
            palette.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
            palette.setColor(QPalette::WindowText, QColor(0xec, 0xec, 0xec));
            palette.setColor(QPalette::Highlight, highlight);
            return palette;
        };
        QPalette pale = light;
        pale.setColor(QPalette::Highlight, QColor(0x9c, 0xc8, 0xff));
        pale.setColor(QPalette::HighlightedText, Qt::white);
        QTest::newRow("light") << light;
        QTest::newRow("dark") << dark(QColor(0x3d, 0x7e, 0xff));
        QTest::newRow("dark, deep blue highlight") << dark(QColor(0x12, 0x60, 0x8a));
        QTest::newRow("light, pale highlight, white highlighted text") << pale;
    }

    void tintsStandOut() {
        QFETCH(QPalette, palette);
        // Text (links and status lines included) needs 4.5:1, symbols 3:1; labels stand on the
        // window, rows of the job list on the base colour.
        for (const Tint role : {Tint::primary, Tint::secondary, Tint::tertiary, Tint::accent,
                                Tint::red, Tint::green, Tint::orange})
            for (const auto ground : {QPalette::Window, QPalette::Base}) {
                const QColor background = palette.color(ground);
                const double ratio = contrast(over(tint(role, palette), background), background);
                QVERIFY2(ratio >= (role == Tint::green || role == Tint::orange ? 3.0 : 4.5),
                         qPrintable(u"tint %1: %2 on %3"_qs.arg(int(role)).arg(ratio).arg(
                             background.name())));
            }
        // The prominent buttons' label on their accent fill.
        const double label = contrast(prominentText(palette), prominentFill(palette));
        QVERIFY2(label >= 4.5, qPrintable(u"button label contrast %1"_qs.arg(label)));
    }
};

QTEST_MAIN(TestJobRow)
#include "tst_jobrow.moc"
