// SPDX-License-Identifier: MIT
#pragma once
// The application's style with its control frames drawn on whole device pixels.
//
// At a display scale that is not a whole number (125 %, 150 %, 175 %, or what large text turns into) a
// control starts between two device pixels. Qt gives the control the device pixels between its corners
// rounded to the nearest, and the styles draw a one-pixel frame line centred on the control's edge: half of
// the line falls outside the control and is clipped away, the rest covers too little of a pixel to be drawn
// at all, or is blended into a pale grey. Where an opaque child (a list's viewport) ends on the inner edge of
// the frame, its own rounding can cover what is left of the line. Fusion's group boxes scale a frame picture
// smoothly, which blurs the line at every scale above 100 %.
//
// Here each frame is drawn by the style as at 100 %, and every pixel of that picture fills the device pixels
// Qt gives to that logical pixel: the line lands on whole pixels, in its own colour, between the control's
// edge and its children, at any scale. At 100 % the style draws as it always did.

#include <QProxyStyle>

#include <vector>

namespace platform {

class PixelStyle : public QProxyStyle {
    Q_OBJECT
  public:
    // Takes ownership of `base`.
    explicit PixelStyle(QStyle* base);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;

  private:
    // Kept from frame to frame: fresh memory for each picture costs more in page faults than the drawing.
    mutable std::vector<QRgb> swapped_;
    mutable std::vector<QRgb> picture_;
};

// Puts a PixelStyle over the application's style, unless there is one already.
void usePixelStyle();

} // namespace platform
