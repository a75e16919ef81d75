#include "WindowGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

// The place is kept as a plain rectangle rather than Qt's geometry blob: restoring the blob
// quietly moves and shrinks a place that fits no screen, where the window should come back
// at its default size instead.
namespace {

const QString placeKey = u"windowGeometry"_qs;
const QString maximizedKey = u"windowMaximized"_qs;

bool fitsAScreen(const QRect &place) {
    const QList<QScreen *> screens = QGuiApplication::screens();
    return std::any_of(screens.cbegin(), screens.cend(), [&place](const QScreen *screen) {
        return screen->availableGeometry().contains(place);
    });
}

} // namespace

void WindowGeometry::restore(QWidget &window) {
    const QSettings settings(u"Tovik"_qs, u"Tovik"_qs);
    const QRect place = settings.value(placeKey).toRect();
    if (!place.isValid() || !fitsAScreen(place))
        return;
    window.setGeometry(place);
    if (settings.value(maximizedKey).toBool())
        window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

void WindowGeometry::save(const QWidget &window) {
    QSettings settings(u"Tovik"_qs, u"Tovik"_qs);
    settings.setValue(placeKey, window.normalGeometry());
    settings.setValue(maximizedKey, window.isMaximized());
}
