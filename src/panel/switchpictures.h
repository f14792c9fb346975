// SPDX-License-Identifier: MIT
#pragma once

#include <QPixmap>
#include <QPoint>
#include <array>

namespace filter {
// The 1x4 switch with its input on the left and outputs 1 to 4 from top to bottom, output `selected`
// (0..3) in red and the others in purple. `outputEnds` are where the output lines end, beside their buttons.
QPixmap drawSwitch(int selected, QSize size, const std::array<QPoint, 4>& outputEnds);
} // namespace filter
