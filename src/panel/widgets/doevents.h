// SPDX-License-Identifier: MIT
#pragma once
// The window's outer size in twips, as the show action and the switch label set it.

#include <QWidget>

namespace platform {

// Positions in the window are in logical pixels; sizes handed to the window's outer frame are in twips.
inline constexpr float TwipsPerPixelX = 15.0f;
inline constexpr float TwipsPerPixelY = 15.0f;

// Sets the outer (frame) width or height of a top-level window, given in twips; the other edge and the
// top-left corner stay where they are.
void setOuterWidth(QWidget* window, float twips);
void setOuterHeight(QWidget* window, float twips);

} // namespace platform
