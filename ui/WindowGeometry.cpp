#include "WindowGeometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

namespace {

const QString key = u"windowGeometry"_qs;

bool fitsAScreen(const QRect &geometry) {
    const QList<QScreen *> screens = QGuiApplication::screens();
    return std::any_of(screens.cbegin(), screens.cend(), [&geometry](const QScreen *screen) {
        return screen->availableGeometry().contains(geometry);
    });
}

} // namespace

void WindowGeometry::restore(QWidget &window) {
    const QSize defaultSize = window.size();
    const QByteArray stored = QSettings(u"Tovik"_qs, u"Tovik"_qs).value(key).toByteArray();
    if (stored.isEmpty() || !window.restoreGeometry(stored) || fitsAScreen(window.geometry()))
        return;
    window.setWindowState(Qt::WindowNoState);
    QRect geometry(QPoint(), defaultSize);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        geometry.moveCenter(screen->availableGeometry().center());
    window.setGeometry(geometry);
}

void WindowGeometry::save(const QWidget &window) {
    QSettings(u"Tovik"_qs, u"Tovik"_qs).setValue(key, window.saveGeometry());
}
