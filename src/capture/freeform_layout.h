// Geometry of the free-form selection: the selected rectangle, whether it is large enough to
// capture, and where the loupe and the size label sit beside the pointer. Arithmetic only.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace vistrel {

inline constexpr int kFreeformMinSelection = 6;  // smaller drags count as a cancel
inline constexpr int kPointerOffset = 20;        // from the pointer to the loupe
inline constexpr int kLoupeSize = 120;           // square, clipped to a circle
inline constexpr int kLoupeSourceSize = 15;      // snapshot pixels shown, 8-fold
inline constexpr int kSizeLabelWidth = 120;
inline constexpr int kSizeLabelHeight = 30;
inline constexpr int kSizeLabelGap = 6;  // between the loupe and the label below it

// The rectangle spanned by two corners, in either order (right and bottom exclusive).
inline RECT SelectionRect(POINT start, POINT end) {
  return RECT{std::min(start.x, end.x), std::min(start.y, end.y), std::max(start.x, end.x),
              std::max(start.y, end.y)};
}

inline bool SelectionIsCapturable(POINT start, POINT end) {
  return std::abs(end.x - start.x) >= kFreeformMinSelection &&
         std::abs(end.y - start.y) >= kFreeformMinSelection;
}

struct PointerDecorations {
  RECT loupe;  // client coordinates of the overlay
  RECT label;
};

// The loupe goes below and to the right of the pointer with the size label under it, so that
// neither hides the other nor the pointer's surroundings. Where that stack would leave the client
// area it goes to the other side of the pointer (left and/or above, the label then on top).
inline PointerDecorations PlacePointerDecorations(POINT pointer, SIZE client) {
  const int stackHeight = kLoupeSize + kSizeLabelGap + kSizeLabelHeight;
  const bool fitsRight = pointer.x + kPointerOffset + kLoupeSize <= client.cx;
  const bool fitsBelow = pointer.y + kPointerOffset + stackHeight <= client.cy;

  const int left = fitsRight ? pointer.x + kPointerOffset : pointer.x - kPointerOffset - kLoupeSize;
  int loupeTop = pointer.y + kPointerOffset;
  int labelTop = loupeTop + kLoupeSize + kSizeLabelGap;
  if (!fitsBelow) {
    loupeTop = pointer.y - kPointerOffset - kLoupeSize;
    labelTop = loupeTop - kSizeLabelGap - kSizeLabelHeight;
  }
  return PointerDecorations{
      RECT{left, loupeTop, left + kLoupeSize, loupeTop + kLoupeSize},
      RECT{left, labelTop, left + kSizeLabelWidth, labelTop + kSizeLabelHeight}};
}

}  // namespace vistrel
