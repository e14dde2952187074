// Lengths written for 100 % turned into pixels at another scale, rounded the same way everywhere.
#pragma once

#include <windows.h>

namespace ui {

inline int ScaleByPercent(int value, int percent) {
  return percent == 100 ? value : ::MulDiv(value, percent, 100);
}

// Width and height are scaled as lengths of their own, so that a rectangle keeps the size a
// length of its width would get wherever it sits.
inline void ScaleRectByPercent(RECT& rect, int percent) {
  const int width = ScaleByPercent(rect.right - rect.left, percent);
  const int height = ScaleByPercent(rect.bottom - rect.top, percent);
  rect.left = ScaleByPercent(rect.left, percent);
  rect.top = ScaleByPercent(rect.top, percent);
  rect.right = rect.left + width;
  rect.bottom = rect.top + height;
}

}  // namespace ui
