#pragma once

#include <QColor>
#include <QPalette>

// The few colours the window uses, by role, derived from the widget palette so that a
// dark palette gets readable variants.
enum class Tint { primary, secondary, tertiary, quaternaryFill, accent, green, orange, red };

bool isDark(const QPalette &palette);
QColor tint(Tint role, const QPalette &palette);
