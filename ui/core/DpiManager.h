// The process's DPI awareness and the percentage by which markup lengths are scaled.
#pragma once

#include <windows.h>

namespace ui {

// UI thread only.
class DpiManager {
 public:
  static DpiManager& Instance();

  // Makes the process DPI-aware once and computes the scale; later calls return the first result.
  bool AdaptDPI();
  bool IsAdaptDPI() const { return adapted_; }

  int GetScale() const { return scale_; }
  // The percentage lengths are scaled by: 100 until the process is DPI-aware. Painting code,
  // which has no view of this object, is handed this value.
  int GetAppliedScale() const { return adapted_ ? scale_ : 100; }
  // For a DPI change of the monitor: the new scale from a DPI value.
  void SetScaleFromDpi(UINT dpi);
  void SetScale(int scale_percent) { scale_ = scale_percent; }

  int ScaleInt(int value) const;
  void ScaleSize(SIZE& size) const;
  void ScaleRect(RECT& rect) const;

  static UINT GetSystemDpi();
  // Windows version checks are made once per process.
  static bool IsVistaOrLater();
  static bool IsWindows8OrLater();

 private:
  DpiManager() = default;

  bool tried_ = false;
  bool adapted_ = false;
  int scale_ = 100;
};

}  // namespace ui
