#include "Colors.h"

#include <array>
#include <cmath>
#include <unordered_map>

namespace {

constexpr double textContrast = 4.5;
constexpr double symbolContrast = 3.0;
constexpr std::size_t roleCount = static_cast<std::size_t>(Tint::red) + 1;
using Tints = std::array<QColor, roleCount>;

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

double luminance(const QColor &color) {
    const auto channel = [](float value) {
        const auto c = static_cast<double>(value);
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

// A translucent colour as it shows on an opaque background.
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

double worstContrast(const QColor &color, const QPalette &palette) {
    const QColor window = palette.color(QPalette::Window);
    const QColor base = palette.color(QPalette::Base);
    return std::min(contrast(over(color, window), window), contrast(over(color, base), base));
}

QColor mix(const QColor &from, const QColor &to, double amount) {
    const auto blend = [amount](float a, float b) {
        const auto start = static_cast<double>(a);
        return static_cast<float>(start + (static_cast<double>(b) - start) * amount);
    };
    return QColor::fromRgbF(blend(from.redF(), to.redF()), blend(from.greenF(), to.greenF()),
                            blend(from.blueF(), to.blueF()), from.alphaF());
}

// The colour itself when it stands out enough; otherwise the least step toward the text
// colour (opaque) that does.
QColor readable(const QColor &color, const QPalette &palette, double minimum) {
    const QColor text = palette.color(QPalette::WindowText);
    const auto alpha = static_cast<double>(color.alphaF());
    for (int step = 0; step <= 20; ++step) {
        const double amount = step / 20.0;
        QColor candidate = mix(color, text, amount);
        if (color.alpha() < 255)
            candidate.setAlphaF(static_cast<float>(alpha + (1 - alpha) * amount));
        if (worstContrast(candidate, palette) >= minimum)
            return candidate;
    }
    return text;
}

Tints computeTints(const QPalette &palette) {
    const bool dark = isDark(palette);
    const QColor text = palette.color(QPalette::WindowText);
    Tints tints;
    const auto set = [&tints](Tint role, const QColor &color) {
        tints[static_cast<std::size_t>(role)] = color;
    };
    set(Tint::primary, text);
    set(Tint::secondary, readable(withAlpha(text, 0.55), palette, textContrast));
    set(Tint::tertiary, readable(withAlpha(text, 0.35), palette, textContrast));
    set(Tint::quaternaryFill, withAlpha(text, dark ? 0.09 : 0.05));
    set(Tint::accent, readable(palette.color(QPalette::Highlight), palette, textContrast));
    set(Tint::green, readable(dark ? QColor(0x30, 0xd1, 0x58) : QColor(0x24, 0x9a, 0x3e), palette,
                              symbolContrast));
    set(Tint::orange, readable(dark ? QColor(0xff, 0x9f, 0x0a) : QColor(0xc8, 0x68, 0x00), palette,
                               symbolContrast));
    set(Tint::red, readable(dark ? QColor(0xff, 0x6b, 0x61) : QColor(0xc8, 0x20, 0x1a), palette,
                            textContrast));
    return tints;
}

} // namespace

bool isDark(const QPalette &palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor tint(Tint role, const QPalette &palette) {
    // Rows and labels ask many times per paint, for a handful of palettes.
    static std::unordered_map<qint64, Tints> cache;
    const qint64 key = palette.cacheKey();
    auto found = cache.find(key);
    if (found == cache.end()) {
        if (cache.size() > 64)
            cache.clear();
        found = cache.emplace(key, computeTints(palette)).first;
    }
    return found->second[static_cast<std::size_t>(role)];
}

QColor prominentFill(const QPalette &palette) {
    return palette.color(QPalette::Highlight);
}

QColor prominentText(const QPalette &palette) {
    const QColor fill = prominentFill(palette);
    const QColor text = palette.color(QPalette::HighlightedText);
    if (contrast(text, fill) >= textContrast)
        return text;
    const QColor white(Qt::white);
    const QColor black(Qt::black);
    return contrast(white, fill) >= contrast(black, fill) ? white : black;
}
