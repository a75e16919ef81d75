#pragma once

class QWidget;

// The window's size and place across launches, in the settings.
namespace WindowGeometry {

// Puts the window where it was at the last quit, maximised if it was. It keeps the size it
// has when nothing usable is stored, or when the stored place fits no screen there is now.
void restore(QWidget &window);
void save(const QWidget &window);

} // namespace WindowGeometry
