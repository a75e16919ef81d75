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

namespace {

YTDLPEvent item(std::optional<qint64> index = {}, std::optional<qint64> count = {},
                const QString &title = u"Clip"_qs) {
    return YTDLPEvent::Item{u"id"_qs, index, count, title};
}
Drive progressed(std::optional<double> speed, std::optional<qint64> eta) {
    return TestJobs::run({item(), YTDLPEvent::Progress{u"id"_qs, false, 400, 1000, speed, eta}});
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
    // One row per branch of the status text, icon, button and menu.
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
        const auto add = [](const char *name, OutputFormat format, const Drive &drive,
                            const QString &text, const Look &look) {
            QTest::newRow(name) << format << drive << text << look;
        };
        add(
            "queued", v720, [](DownloadJob &) {}, u"Waiting…"_qs, waiting);
        add("started inside a playlist, no title yet", v720,
            TestJobs::run({}, downloading, {}, {3, 12}), u"Starting…"_qs, loading);
        add("item 2 of 5 at 1.5 MB/s, 90 s left", v720,
            TestJobs::run(
                {item(2, 5), YTDLPEvent::Progress{u"id"_qs, false, 400, 1000, 1.5e6, 90}}),
            u"2 of 5 · Video — up to 720p · 1.5 MB/s · 1:30 left"_qs, loading);
        add("playlist count without index", OutputFormat::video1080,
            TestJobs::run({item({}, 4)}, downloading), u"0 of 4 · Video — up to 1080p"_qs, loading);
        add("eta 0 has no time part", v720, progressed(2.3e6, 0),
            u"Video — up to 720p · 2.3 MB/s"_qs, loading);
        add("minutes beyond an hour", OutputFormat::video480, progressed({}, 3725),
            u"Video — up to 480p · 62:05 left"_qs, loading);
        add("speed truncated to whole bytes", audio, progressed(999.9, 1),
            u"Audio only (M4A) · 999 bytes/s · 0:01 left"_qs, loading);
        add("infinite speed left out", v720,
            progressed(std::numeric_limits<double>::infinity(), {}), u"Video — up to 720p"_qs,
            loading);
        add("speed beyond 64 bits left out", v720, progressed(1e30, {}), u"Video — up to 720p"_qs,
            loading);
        add("merging, in a playlist", v720, TestJobs::run({item(3, 12), partDone, partDone}),
            u"3 of 12 · Merging video and audio…"_qs, working);
        add("extracting audio", audio, TestJobs::run({item(), partDone}), u"Extracting audio…"_qs,
            working);
        add("finished audio, one file", audio,
            TestJobs::run({item(2, 5), partDone, file(u"Song.m4a"_qs)}, DownloadJob::Finished{}),
            u"Song.m4a"_qs, saved);
        add("finished with a warning", audio,
            TestJobs::run({item(), partDone, file(u"Song.m4a"_qs)}, DownloadJob::Finished{},
                          u"One item failed: Video unavailable"_qs),
            u"Song.m4a — One item failed: Video unavailable"_qs, warned);
        add("finished playlist of two", v720,
            TestJobs::run({item(2, 2), file(u"L/a.mp4"_qs), file(u"L/b.mp4"_qs)},
                          DownloadJob::Finished{}),
            u"2 files saved"_qs, saved);
        add("finished without files", v720, TestJobs::run({}, DownloadJob::Finished{}),
            u"0 files saved"_qs, empty);
        add("cancelled inside a playlist", v720,
            TestJobs::run({item(2, 5)}, DownloadJob::Cancelled{}), u"Cancelled"_qs, stopped);
        add("failed", v720,
            TestJobs::run({item(1, 3)},
                          DownloadJob::Failed{u"Unsupported URL: https://example.com/v"_qs}),
            u"Tovik cannot find a video at this link."_qs, failed);
    }

    void statusActionAndMenu() {
        QFETCH(OutputFormat, format);
        QFETCH(Drive, drive);
        QFETCH(Look, look);
        // The title is the link, fully encoded, until yt-dlp names the video.
        const QString link = u"https://example.com/watch?v=a%20b"_qs;
        DownloadJob job({QUrl(link), format, false, QUrl::fromLocalFile(u"/tmp/out/"_qs)});
        drive(job);
        QCOMPARE(JobRow::title(job), job.title() ? u"Clip"_qs : link);
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

    // Failures of a download are told in plain words; those of the tool setup get a hint.
    // Rows "download|message|shown" or "setup|message|shown"; one per branch of the wording.
    void errorText_data() {
        QTest::addColumn<QString>("row");
        const QString report = u"; please report this issue on  https://github.com/yt-dlp/yt-dlp/"
                               "issues?q= , filling out the appropriate issue template. Confirm "
                               "you are on the latest version using  yt-dlp -U"_qs;
        const QString hint = u"Check that your home folder has free space and can be written to, "
                             "then try again."_qs;
        for (
            const QString &row : QStringList{
                u"download|Unable to download webpage: HTTP Error 404: Not Found (caused by "
                "<HTTPError 404: 'Not Found'>)"_qs +
                    report + u"|The site has no page at this link (HTTP 404). Check the link."_qs,
                u"download|unable to download video data: HTTP Error 401: Unauthorized|The site "
                "refused access to this video (HTTP 401)."_qs,
                u"download|HTTP Error 429: Too Many Requests|The site is receiving too many "
                "requests (HTTP 429). Try again later."_qs,
                u"download|Unable to download JSON metadata: HTTP Error 500: Internal|The site had "
                "a problem (HTTP 500). Try again later."_qs,
                u"download|Unable to download webpage: HTTP Error 451: Unavailable For Legal "
                "Reasons|The site answered with HTTP error 451, “Unavailable For Legal Reasons”."_qs,
                u"download|HTTP Error 499: (caused by x)|The site answered with HTTP error 499."_qs,
                u"download|Unable to download webpage: <urlopen error [Errno -2] Name or service "
                u"not "
                "known>|The site could not be reached. Check the link and your internet "
                "connection."_qs,
                u"download|Requested format is not available. Use --list-formats for a list of "
                "available formats|This video is not offered in the chosen format."_qs,
                u"download|Unsupported URL: https://example.com/page|Tovik cannot find a video at "
                "this link."_qs,
                u"download|[Errno 28] No space left on device: '/x/a.part'|The disk is full."_qs,
                u"download|Sign in to confirm your age. This video may be inappropriate. Use "
                "--cookies for the authentication. See  https://github.com/yt-dlp/yt-dlp/wiki/FAQ  "
                "for how to pass cookies|Sign in to confirm your age. This video may be "
                "inappropriate."_qs,
                u"download|Video unavailable|Video unavailable"_qs,
                u"download|yt-dlp stopped with code 9.|yt-dlp stopped with code 9."_qs,
                u"download| Use --help for help |Use --help for help"_qs,
                u"setup|SSL handshake failed: certificate has expired|A secure connection could "
                "not be made. Check the computer's date and time and any proxy settings, then try "
                "again."_qs,
                u"setup|Host api.github.com not found|Check that this computer is connected to "
                "the internet, then try again."_qs,
                u"setup|Server returned 502 for github.com.|The download site had a problem. Try "
                "again in a few minutes."_qs,
                u"setup|deno failed its checksum check, so it was not installed.|What arrived did "
                "not match what its makers published, so it was not kept. Try again later."_qs,
                u"setup|Could not unpack ffmpeg.zip.|"_qs + hint,
                u"setup|Something odd|"_qs})
            QTest::newRow(qPrintable(row.section(u'|', 1, 1).left(40))) << row;
    }

    void errorText() {
        QFETCH(QString, row);
        const QString message = row.section(u'|', 1, 1);
        QCOMPARE(row.startsWith(u"setup"_qs) ? ErrorText::setupHint(message).value_or(QString())
                                             : ErrorText::forDownload(message),
                 row.section(u'|', 2));
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
            for (int x = 0; x < image.width(); ++x)
                if (const QRgb p = image.pixel(x, y); qAlpha(p) > 200)
                    QVERIFY(std::abs(qRed(p) - colour.red()) <= 2 &&
                            std::abs(qGreen(p) - colour.green()) <= 2 &&
                            std::abs(qBlue(p) - colour.blue()) <= 2);
        const QImage big = Icons::pixmap(symbol, QColor(0, 0, 0, 140), 48, 1).toImage();
        QCOMPARE(pixelsAbove(big, 140), 0);
        QVERIFY(pixelsAbove(big, 139) > 0);
        if (!hole.isNull())
            QVERIFY(qAlpha(big.pixel(hole)) == 0 && qAlpha(big.pixel(solid)) == 140);
    }

    void iconsAtEveryRatioAndState() {
        QCOMPARE((QList{JobRow::actionSymbol(A::cancel), JobRow::actionSymbol(A::reveal),
                        JobRow::actionSymbol(A::retry)}),
                 (QList{Symbol::xmarkCircleFill, Symbol::magnifyingglassCircleFill,
                        Symbol::arrowClockwiseCircleFill}));
        const QIcon icon = Icons::icon(Symbol::checkmarkCircleFill, Qt::darkGreen);
        for (const qreal ratio : {1.0, 1.5, 3.0}) {
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
        for (const int size : {16, 256}) {
            const QImage image = Icons::appImage(size);
            QCOMPARE(image.size(), QSize(size, size));
            QVERIFY(qAlpha(image.pixel(size / 2, size / 8)) == 255 &&
                    qAlpha(image.pixel(0, 0)) == 0);
        }
    }

    // Text (links and status lines included) needs 4.5:1, symbols 3:1, on the window and on
    // the list's base colour; the prominent buttons' label 4.5:1 on their accent fill.
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
        for (const Tint role : {Tint::primary, Tint::secondary, Tint::tertiary, Tint::accent,
                                Tint::red, Tint::green, Tint::orange})
            for (const auto ground : {QPalette::Window, QPalette::Base}) {
                const QColor background = palette.color(ground);
                const double ratio = contrast(over(tint(role, palette), background), background);
                QVERIFY2(ratio >= (role == Tint::green || role == Tint::orange ? 3.0 : 4.5),
                         qPrintable(u"tint %1: %2 on %3"_qs.arg(int(role)).arg(ratio).arg(
                             background.name())));
            }
        const double label = contrast(prominentText(palette), prominentFill(palette));
        QVERIFY2(label >= 4.5, qPrintable(u"button label contrast %1"_qs.arg(label)));
    }
};

QTEST_MAIN(TestJobRow)
#include "tst_jobrow.moc"
