#pragma once

#include <QColor>
#include <QPalette>

// The few colours the window uses, by role, derived from the widget palette. Text roles
// (primary, secondary, tertiary, accent, red) keep at least 4.5:1 contrast, and symbol roles
// (green, orange) at least 3:1, against both the window and the list background of any
// palette, light or dark: a role that falls short is moved toward the text colour.
enum class Tint { primary, secondary, tertiary, quaternaryFill, accent, green, orange, red };

bool isDark(const QPalette &palette);
QColor tint(Tint role, const QPalette &palette);

// The fill of a prominent button and the text on it, readable on each other.
QColor prominentFill(const QPalette &palette);
QColor prominentText(const QPalette &palette);
