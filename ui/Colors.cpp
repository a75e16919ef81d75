#include "Colors.h"

namespace {

QColor withAlpha(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

} // namespace

bool isDark(const QPalette &palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor tint(Tint role, const QPalette &palette) {
    const bool dark = isDark(palette);
    const QColor text = palette.color(QPalette::WindowText);
    switch (role) {
    case Tint::primary:
        return text;
    case Tint::secondary:
        return withAlpha(text, 0.55);
    case Tint::tertiary:
        return withAlpha(text, 0.35);
    case Tint::quaternaryFill:
        return withAlpha(text, dark ? 0.09 : 0.05);
    case Tint::accent:
        return palette.color(QPalette::Highlight);
    // Darker variants on light backgrounds keep small red text readable.
    case Tint::green:
        return dark ? QColor(0x30, 0xd1, 0x58) : QColor(0x24, 0x9a, 0x3e);
    case Tint::orange:
        return dark ? QColor(0xff, 0x9f, 0x0a) : QColor(0xc8, 0x68, 0x00);
    case Tint::red:
        return dark ? QColor(0xff, 0x6b, 0x61) : QColor(0xc8, 0x20, 0x1a);
    }
    Q_UNREACHABLE();
}
