#include "Fonts.h"

namespace {

QFont scaled(const QFont &body, double factor) {
    QFont font = body;
    if (body.pointSizeF() > 0)
        font.setPointSizeF(body.pointSizeF() * factor);
    else
        font.setPixelSize(qRound(body.pixelSize() * factor));
    return font;
}

} // namespace

QFont Fonts::caption(const QFont &body) {
    return scaled(body, 0.85);
}

QFont Fonts::callout(const QFont &body) {
    return scaled(body, 0.93);
}

QFont Fonts::title2(const QFont &body) {
    QFont font = scaled(body, 1.3);
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont Fonts::medium(const QFont &body) {
    QFont font = body;
    font.setWeight(QFont::Medium);
    return font;
}
