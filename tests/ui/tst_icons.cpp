#include "Colors.h"
#include "Icons.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <cmath>
#include <memory>

Q_DECLARE_METATYPE(Symbol)
Q_DECLARE_METATYPE(Tint)

namespace {

const QList<Symbol> allSymbols{Symbol::arrowDownCircle,
                               Symbol::folder,
                               Symbol::clock,
                               Symbol::circle,
                               Symbol::checkmarkCircleFill,
                               Symbol::exclamationmarkCircleFill,
                               Symbol::xmarkCircle,
                               Symbol::xmarkCircleFill,
                               Symbol::exclamationmarkTriangleFill,
                               Symbol::magnifyingglassCircleFill,
                               Symbol::arrowClockwiseCircleFill,
                               Symbol::gearshape2};

QPalette lightPalette() {
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(u"Fusion"_qs));
    return fusion->standardPalette();
}

QPalette darkPalette(const QColor &highlight = QColor(0x3d, 0x7e, 0xff)) {
    QPalette palette = lightPalette();
    palette.setColor(QPalette::Window, QColor(0x2a, 0x2a, 0x2d));
    palette.setColor(QPalette::Base, QColor(0x1f, 0x1f, 0x22));
    palette.setColor(QPalette::WindowText, QColor(0xec, 0xec, 0xec));
    palette.setColor(QPalette::Highlight, highlight);
    return palette;
}

// A light scheme whose highlight is pale and whose highlighted text is white.
QPalette paleHighlightPalette() {
    QPalette palette = lightPalette();
    palette.setColor(QPalette::Highlight, QColor(0x9c, 0xc8, 0xff));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

double luminance(const QColor &color) {
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(static_cast<double>(color.redF())) +
           0.7152 * channel(static_cast<double>(color.greenF())) +
           0.0722 * channel(static_cast<double>(color.blueF()));
}

// A translucent colour as it shows on the background.
QColor over(const QColor &color, const QColor &background) {
    const float a = color.alphaF();
    return QColor::fromRgbF(color.redF() * a + background.redF() * (1 - a),
                            color.greenF() * a + background.greenF() * (1 - a),
                            color.blueF() * a + background.blueF() * (1 - a));
}

double contrast(const QColor &a, const QColor &b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

struct Coverage {
    int opaque = 0;
    int clear = 0;
};

Coverage coverage(const QImage &image) {
    Coverage result;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(image.pixel(x, y));
            if (alpha > 200)
                ++result.opaque;
            else if (alpha == 0)
                ++result.clear;
        }
    return result;
}

} // namespace

class TestIcons : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everySymbolIsDrawnInItsColour_data();
    void everySymbolIsDrawnInItsColour();
    void filledSymbolsLetTheBackgroundThrough_data();
    void filledSymbolsLetTheBackgroundThrough();
    void iconsRenderAtTheDevicePixelRatio();
    void disabledIconsAreFainter();
    void translucentSymbolsHaveOneShade();
    void tintsStandOutInLightAndDarkPalettes_data();
    void tintsStandOutInLightAndDarkPalettes();
    void appIconFillsItsTile();
};

void TestIcons::everySymbolIsDrawnInItsColour_data() {
    QTest::addColumn<Symbol>("symbol");
    for (const Symbol symbol : allSymbols)
        QTest::addRow("symbol %d", static_cast<int>(symbol)) << symbol;
}

void TestIcons::everySymbolIsDrawnInItsColour() {
    QFETCH(Symbol, symbol);
    const QColor colour(0xd7, 0x26, 0x1e);
    const QImage image =
        Icons::pixmap(symbol, colour, 24, 1).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(24, 24));
    const Coverage drawn = coverage(image);
    QVERIFY2(drawn.opaque > 20, "too little of the symbol is drawn");
    QVERIFY2(drawn.clear > 100, "the symbol fills its whole square");
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) > 200) {
                QVERIFY(std::abs(qRed(pixel) - colour.red()) <= 2);
                QVERIFY(std::abs(qGreen(pixel) - colour.green()) <= 2);
                QVERIFY(std::abs(qBlue(pixel) - colour.blue()) <= 2);
            }
        }
}

void TestIcons::filledSymbolsLetTheBackgroundThrough_data() {
    QTest::addColumn<Symbol>("symbol");
    QTest::addColumn<QPoint>("hole");
    QTest::addColumn<QPoint>("solid");
    QTest::newRow("check") << Symbol::checkmarkCircleFill << QPoint(21, 31) << QPoint(24, 6);
    QTest::newRow("exclamation") << Symbol::exclamationmarkCircleFill << QPoint(24, 18)
                                 << QPoint(10, 24);
    QTest::newRow("cross") << Symbol::xmarkCircleFill << QPoint(24, 24) << QPoint(24, 8);
    QTest::newRow("triangle") << Symbol::exclamationmarkTriangleFill << QPoint(24, 22)
                              << QPoint(32, 34);
    QTest::newRow("magnifier") << Symbol::magnifyingglassCircleFill << QPoint(29, 29)
                               << QPoint(24, 42);
}

void TestIcons::filledSymbolsLetTheBackgroundThrough() {
    QFETCH(Symbol, symbol);
    QFETCH(QPoint, hole);
    QFETCH(QPoint, solid);
    const QImage image = Icons::pixmap(symbol, Qt::black, 48, 1).toImage();
    // The glyph inside a filled shape is cut out, so it shows whatever lies beneath.
    QCOMPARE(qAlpha(image.pixel(hole)), 0);
    QCOMPARE(qAlpha(image.pixel(solid)), 255);
}

void TestIcons::iconsRenderAtTheDevicePixelRatio() {
    const QIcon icon = Icons::icon(Symbol::checkmarkCircleFill, Qt::darkGreen);
    QVERIFY(!icon.isNull());
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
        if (alpha > 0 && alpha < 200)
            ++soft;
    }
    QVERIFY2(soft <= 6, qPrintable(u"%1 blurred pixels across the ring"_qs.arg(soft)));
}

void TestIcons::disabledIconsAreFainter() {
    const QIcon icon = Icons::icon(Symbol::circle, Qt::black);
    const QImage normal = icon.pixmap(QSize(24, 24), 1, QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(24, 24), 1, QIcon::Disabled).toImage();
    QVERIFY(coverage(normal).opaque > 0);
    QCOMPARE(coverage(disabled).opaque, 0);
}

void TestIcons::translucentSymbolsHaveOneShade() {
    // Where the cross meets the ring, the strokes overlap; they must not darken there.
    for (const Symbol symbol : {Symbol::xmarkCircle, Symbol::folder, Symbol::clock}) {
        const QImage image = Icons::pixmap(symbol, QColor(0, 0, 0, 140), 48, 1).toImage();
        int strongest = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                strongest = std::max(strongest, qAlpha(image.pixel(x, y)));
        QCOMPARE(strongest, 140);
    }
}

void TestIcons::tintsStandOutInLightAndDarkPalettes_data() {
    QTest::addColumn<QPalette>("palette");
    QTest::addColumn<Tint>("role");
    QTest::addColumn<double>("minimum");
    const std::pair<const char *, QPalette> palettes[] = {
        {"light", lightPalette()},
        {"dark", darkPalette()},
        {"dark, deep blue highlight", darkPalette(QColor(0x12, 0x60, 0x8a))},
        {"light, pale highlight", paleHighlightPalette()}};
    for (const auto &[name, palette] : palettes) {
        // Text (links and status lines included) needs 4.5:1, symbols 3:1.
        for (const Tint role :
             {Tint::primary, Tint::secondary, Tint::tertiary, Tint::accent, Tint::red})
            QTest::addRow("%s, text role %d", name, static_cast<int>(role))
                << palette << role << 4.5;
        QTest::addRow("%s green", name) << palette << Tint::green << 3.0;
        QTest::addRow("%s orange", name) << palette << Tint::orange << 3.0;
    }
}

void TestIcons::tintsStandOutInLightAndDarkPalettes() {
    QFETCH(QPalette, palette);
    QFETCH(Tint, role);
    QFETCH(double, minimum);
    // Labels stand on the window, rows of the job list on the base colour.
    for (const auto ground : {QPalette::Window, QPalette::Base}) {
        const QColor background = palette.color(ground);
        const double ratio = contrast(over(tint(role, palette), background), background);
        QVERIFY2(ratio >= minimum,
                 qPrintable(u"contrast %1 on %2"_qs.arg(ratio).arg(background.name())));
    }
    // The prominent buttons' label on their accent fill.
    const double label = contrast(prominentText(palette), prominentFill(palette));
    QVERIFY2(label >= 4.5, qPrintable(u"button label contrast %1"_qs.arg(label)));
}

void TestIcons::appIconFillsItsTile() {
    for (const int size : {16, 48, 256}) {
        const QImage image = Icons::appImage(size);
        QCOMPARE(image.size(), QSize(size, size));
        QCOMPARE(qAlpha(image.pixel(size / 2, size / 8)), 255);
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    }
    QVERIFY(!Icons::appIcon().isNull());
}

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
