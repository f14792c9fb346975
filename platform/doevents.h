#pragma once
// The window system's calls that the logic uses beyond the controls themselves.

#include <QWidget>

// Processes all pending window events and returns; any handler may run to its end inside.
void DoEvents();

namespace platform {

// Positions in the window are in logical pixels; sizes handed to the window's outer frame are in twips.
inline constexpr float TwipsPerPixelX = 15.0f;
inline constexpr float TwipsPerPixelY = 15.0f;

// Sets the outer (frame) width or height of a top-level window, given in twips; the other edge and the
// top-left corner stay where they are.
void setOuterWidth(QWidget* window, float twips);
void setOuterHeight(QWidget* window, float twips);

} // namespace platform
