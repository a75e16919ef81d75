#pragma once

#include <QFont>

// Text sizes relative to the application's body font, in the proportions of a desktop
// type ramp, so that they follow the user's font settings.
namespace Fonts {
QFont caption(const QFont &body);
QFont callout(const QFont &body);
QFont title2(const QFont &body);
QFont medium(const QFont &body);
} // namespace Fonts
