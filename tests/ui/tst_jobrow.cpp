#include "DownloadJob.h"
#include "ErrorText.h"
#include "JobRow.h"

#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <cmath>

// Where a job is taken: the events it handles, then the state and the warning it is given.
struct Course {
    QList<YTDLPEvent> events = {};
    std::optional<DownloadJob::State> end = {};
    std::optional<QString> warning = {};
};

// Puts download jobs into any state through the same event handling the job runner uses.
class TestJobs {
public:
    static void drive(DownloadJob &job, const Course &course) {
        for (const YTDLPEvent &event : course.events)
            job.handle(event);
        if (course.end)
            job.setState(*course.end);
        job.setWarning(course.warning);
    }
};

using A = JobRow::Action;
// How a row looks and what its button does: an accent icon goes with a progress bar, a red one
// with a status in red.
using Look = std::pair<JobRow::StatusIcon, std::optional<A>>;
Q_DECLARE_METATYPE(Course)
Q_DECLARE_METATYPE(Look)
Q_DECLARE_METATYPE(OutputFormat)

namespace {

YTDLPEvent item(std::optional<qint64> index = {}, std::optional<qint64> count = {}) {
    return YTDLPEvent::Item{u"id"_qs, index, count, u"Clip"_qs};
}
YTDLPEvent progress(std::optional<double> speed, std::optional<qint64> eta) {
    return YTDLPEvent::Progress{u"id"_qs, false, 400, 1000, speed, eta};
}
const YTDLPEvent partDone = YTDLPEvent::Progress{u"id"_qs, true, 1000, 1000, {}, {}};

// Contrast as the accessibility guidelines define it, worked out here apart from the product,
// of a colour, translucent or not, on the opaque ground it is drawn on.
double contrast(const QColor &color, const QColor &ground) {
    // The relative luminance of the colour drawn at this opacity on the ground.
    const auto luminance = [&](double alpha) {
        const auto channel = [&](float (QColor::*of)() const noexcept) {
            const double c = (color.*of)(), g = (ground.*of)();
            const double v = c * alpha + g * (1 - alpha);
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(&QColor::redF) + 0.7152 * channel(&QColor::greenF) +
               0.0722 * channel(&QColor::blueF);
    };
    const auto [dark, light] = std::minmax({luminance(color.alphaF()), luminance(0)});
    return (light + 0.05) / (dark + 0.05);
}

// Pixels more opaque than alpha; given a colour, only those that are not of it.
int pixelsAbove(const QImage &image, int alpha = 200, const QColor &colour = {}) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor p = image.pixelColor(x, y);
            const int off = std::abs(p.red() - colour.red()) +
                            std::abs(p.green() - colour.green()) +
                            std::abs(p.blue() - colour.blue());
            count += p.alpha() > alpha && (!colour.isValid() || off > 6) ? 1 : 0;
        }
    return count;
}

} // namespace

class TestJobRow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // One row per branch of the status text, icon, button and menu.
    void statusActionAndMenu_data() {
        QTest::addColumn<Course>("course");
        QTest::addColumn<QString>("text");
        QTest::addColumn<Look>("look");
        QTest::addColumn<OutputFormat>("format");
        const Look waiting{{Symbol::clock, Tint::secondary}, A::cancel};
        const Look loading{{Symbol::arrowDownCircle, Tint::accent}, A::cancel};
        const Look working{{Symbol::gearshape2, Tint::accent}, A::cancel};
        const Look empty{{Symbol::checkmarkCircleFill, Tint::green}, {}};
        const Look warned{{Symbol::exclamationmarkCircleFill, Tint::orange}, A::reveal};
        const Look stopped{{Symbol::xmarkCircle, Tint::secondary}, A::retry};
        const Look failed{{Symbol::exclamationmarkTriangleFill, Tint::red}, A::retry};
        const auto add = [](const char *name, const Course &course, const QString &text,
                            const Look &look, OutputFormat format = OutputFormat::video720) {
            QTest::newRow(name) << course << text << look << format;
        };
        const auto audio = OutputFormat::audio;
        using D = DownloadJob;
        add("queued", {}, u"Waiting…"_qs, waiting);
        add("started, no title yet", {{}, D::Downloading{}}, u"Starting…"_qs, loading);
        add("item 2 of 5 at 1.5 MB/s, 90 s left", {{item(2, 5), progress(1.5e6, 90)}},
            u"2 of 5 · Video — up to 720p · 1.5 MB/s · 1:30 left"_qs, loading);
        add("playlist count without index", {{item({}, 4)}, D::Downloading{}},
            u"0 of 4 · Video — up to 720p"_qs, loading);
        add("speed truncated to whole bytes", {{item(), progress(999.9, 1)}},
            u"Audio only (M4A) · 999 bytes/s · 0:01 left"_qs, loading, audio);
        add("speed not a number left out", {{item(), progress(qQNaN(), {})}},
            u"Video — up to 720p"_qs, loading);
        add("speed beyond 64 bits and eta 0 left out", {{item(), progress(1e30, 0)}},
            u"Video — up to 720p"_qs, loading);
        add("merging, in a playlist", {{item(3, 12), partDone, partDone}},
            u"3 of 12 · Merging video and audio…"_qs, working);
        add("extracting audio", {{item(), partDone}}, u"Extracting audio…"_qs, working, audio);
        add("finished with a warning",
            {{item(), YTDLPEvent::File{u"id"_qs, u"/tmp/out/a.mp4"_qs}}, D::Finished{}, u"Gone"_qs},
            u"a.mp4 — Gone"_qs, warned);
        add("finished without files", {{}, D::Finished{}}, u"0 files saved"_qs, empty);
        add("cancelled", {{item(2, 5)}, D::Cancelled{}}, u"Cancelled"_qs, stopped);
        add("failed", {{item(1, 3)}, D::Failed{u"Unsupported URL"_qs}},
            u"Tovik cannot find a video at this link."_qs, failed);
    }

    void statusActionAndMenu() {
        QFETCH(Course, course);
        QFETCH(OutputFormat, format);
        QFETCH(Look, look);
        const auto [icon, action] = look;
        // The title is the link, fully encoded, until yt-dlp names the video.
        const QString link = u"https://example.com/watch?v=a%20b"_qs;
        DownloadJob job({QUrl(link), format, false, QUrl::fromLocalFile(u"/tmp/out/"_qs)});
        TestJobs::drive(job, course);
        QCOMPARE(JobRow::title(job), job.title() ? u"Clip"_qs : link);
        QTEST(JobRow::statusText(job), "text");
        QVERIFY(JobRow::statusIcon(job) == icon);
        QCOMPARE(JobRow::showsProgress(job), icon.tint == Tint::accent);
        const bool error = icon.tint == Tint::red;
        QCOMPARE(JobRow::statusIsError(job), error);
        QCOMPARE(JobRow::action(job), action);
        // Only ended jobs can be removed; a failed job's message can be copied whole.
        using M = JobRow::MenuItem;
        QCOMPARE(JobRow::menuItems(job), (action == A::cancel ? QList{M::copyLink}
                                          : error ? QList{M::copyLink, M::copyError, M::remove}
                                                  : QList{M::copyLink, M::remove}));
    }

    // Failures of a download are told in plain words; those of the tool setup get a hint.
    // Rows "d|message|how the text ends" for a download, "s|…" for the setup; one per branch.
    void errorText_data() {
        QTest::addColumn<QString>("row");
        for (
            const QString &row : QStringList{
                u"d|HTTP Error 404: Not Found|(HTTP 404). Check the link."_qs,
                u"d|HTTP Error 401: Unauthorized|refused access to this video (HTTP 401)."_qs,
                u"d|HTTP Error 429: Too Many Requests|many requests (HTTP 429). Try again later."_qs,
                u"d|HTTP Error 500: Internal|had a problem (HTTP 500). Try again later."_qs,
                u"d|HTTP Error 451: Legal Reasons; x|HTTP error 451, “Legal Reasons”."_qs,
                u"d|HTTP Error 499: (caused by x)|The site answered with HTTP error 499."_qs,
                u"d|Unable to download webpage: Name or service not known|internet connection."_qs,
                u"d|Requested format is not available. Use --list-formats|chosen format."_qs,
                u"d|[Errno 28] No space left on device: '/x/a.part'|The disk is full."_qs,
                u"d|Sign in. Also see the FAQ. Use --cookies. Or not.|Sign in. Or not."_qs,
                u"d|Gone; please report this issue on GitHub|Gone"_qs,
                u"d| Use --help for help |Use --help for help"_qs,
                u"s|certificate has expired|and any proxy settings, then try again."_qs,
                u"s|Host api.github.com not found|connected to the internet, then try again."_qs,
                u"s|Server returned 502 for github.com.|Try again in a few minutes."_qs,
                u"s|deno failed its checksum check.|so it was not kept. Try again later."_qs,
                u"s|Could not unpack ffmpeg.zip.|can be written to, then try again."_qs,
                u"s|Something odd|no hint"_qs})
            QTest::newRow(qPrintable(row.section(u'|', 1, 1).left(40))) << row;
    }

    void errorText() {
        QFETCH(QString, row);
        const QString message = row.section(u'|', 1, 1);
        const QString shown = row.startsWith(u's')
                                  ? ErrorText::setupHint(message).value_or(u"no hint"_qs)
                                  : ErrorText::forDownload(message);
        QVERIFY2(shown.endsWith(row.section(u'|', 2)), qPrintable(shown));
    }

    // Every symbol drawn in its colour only, at the screen's pixels, and fainter when disabled;
    // filled ones cut their glyph out, so that it shows what lies beneath; overlapping strokes
    // of a translucent one do not darken.
    void symbols_data() {
        QTest::addColumn<Symbol>("symbol");
        QTest::addColumn<QLine>("cut"); // at 48 pixels: a point cut out, one still solid
        const QMap<Symbol, QLine> cuts{{Symbol::checkmarkCircleFill, {21, 31, 24, 6}},
                                       {Symbol::exclamationmarkCircleFill, {24, 18, 10, 24}},
                                       {Symbol::xmarkCircleFill, {24, 24, 24, 8}},
                                       {Symbol::exclamationmarkTriangleFill, {24, 22, 32, 34}},
                                       {Symbol::magnifyingglassCircleFill, {29, 29, 24, 42}}};
        for (int s = 0; s <= int(Symbol::gearshape2); ++s)
            QTest::addRow("symbol %d", s) << Symbol(s) << cuts.value(Symbol(s));
    }

    void symbols() {
        QFETCH(Symbol, symbol);
        QFETCH(QLine, cut);
        const QColor colour(0xd7, 0x26, 0x1e, 140);
        const QIcon icon = Icons::icon(symbol, colour);
        const QImage image = icon.pixmap(QSize(48, 48)).toImage();
        QVERIFY2(pixelsAbove(image, 139) > 80 && pixelsAbove(image, 0) < 48 * 48 - 400 &&
                     pixelsAbove(image, 140) == 0 && pixelsAbove(image, 139, colour) == 0,
                 "the symbol is missing, fills its square or is not all in its colour");
        QCOMPARE(pixelsAbove(icon.pixmap(QSize(48, 48), 1, QIcon::Disabled).toImage(), 100), 0);
        const QPixmap scaled = icon.pixmap(QSize(20, 20), 1.5);
        QVERIFY(scaled.size() == QSize(30, 30) && scaled.devicePixelRatio() == 1.5);
        if (!cut.isNull())
            QVERIFY(qAlpha(image.pixel(cut.p1())) == 0 && qAlpha(image.pixel(cut.p2())) == 140);
    }

    // Drawn at twice the pixels, not enlarged: edges stay as sharp as at 1x. The application
    // icon fills its rounded tile.
    void sharpAndAppIcon() {
        const QImage ring = Icons::pixmap(Symbol::circle, Qt::black, 20, 2).toImage();
        const QImage across = ring.copy(0, ring.height() / 2, ring.width(), 1);
        QVERIFY2(pixelsAbove(across, 0) - pixelsAbove(across, 199) <= 6, "blurred ring");
        const QImage app = Icons::appImage(32);
        QVERIFY(app.size() == QSize(32, 32) && qAlpha(app.pixel(16, 4)) == 255 &&
                qAlpha(app.pixel(0, 0)) == 0);
    }

    // Text (links and status lines included) needs 4.5:1, symbols 3:1, on the window and on
    // the list's base colour; the prominent buttons' label 4.5:1 on their accent fill.
    void tintsStandOut_data() {
        QTest::addColumn<QPalette>("palette");
        const std::unique_ptr<QStyle> fusion(QStyleFactory::create(u"Fusion"_qs));
        QPalette light = fusion->standardPalette();
        QPalette dark = light;
        dark.setColor(QPalette::Window, QColor(0x2a, 0x2a, 0x2d));
        dark.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
        dark.setColor(QPalette::WindowText, QColor(0xec, 0xec, 0xec));
        dark.setColor(QPalette::Highlight, QColor(0x12, 0x60, 0x8a));
        QTest::newRow("dark, deep blue highlight") << dark;
        light.setColor(QPalette::Highlight, QColor(0x9c, 0xc8, 0xff));
        light.setColor(QPalette::HighlightedText, Qt::white);
        QTest::newRow("light, pale highlight, white highlighted text") << light;
    }

    void tintsStandOut() {
        QFETCH(QPalette, palette);
        for (const Tint role : {Tint::primary, Tint::secondary, Tint::tertiary, Tint::accent,
                                Tint::red, Tint::green, Tint::orange})
            for (const QColor &background :
                 {palette.color(QPalette::Window), palette.color(QPalette::Base)})
                QVERIFY2(contrast(tint(role, palette), background) >=
                             (role == Tint::green || role == Tint::orange ? 3.0 : 4.5),
                         qPrintable(u"tint %1 on %2"_qs.arg(int(role)).arg(background.name())));
        QVERIFY(contrast(prominentText(palette), prominentFill(palette)) >= 4.5);
    }
};

QTEST_MAIN(TestJobRow)
#include "tst_jobrow.moc"
