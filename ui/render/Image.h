// Images as markup names them (the image string), decoded bitmaps, and a control's image use.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/render/GdiHandles.h"

namespace ui {

// One decoded picture, shared by every control that names the same path.
struct ImageInfo {
  std::wstring path;
  int width = 0;
  int height = 0;
  bool has_alpha = false;
  // The scale, in percent, this picture was drawn at: 100 for the plain picture, more for a
  // larger variant chosen for a high DPI scale. Source rectangles and corners in markup count
  // in pixels of the plain picture.
  int scale_percent = 100;
  std::vector<UniqueBitmap> frames;
  std::vector<int> frame_delays_ms;  // only for images with more than one frame

  HBITMAP GetBitmap(size_t frame = 0) const {
    return frame < frames.size() ? frames[frame].get() : nullptr;
  }

  // PNG pictures from memory by the project's own reader, the rest (and files) through GDI+;
  // null when the bytes are not a picture either reads. A picture drawn at
  // `drawn_scale` percent that is wanted at a smaller `wanted_scale` is reduced by area
  // averaging as it is decoded (a picture of several frames is kept as drawn); the result
  // records the scale it now has.
  static std::unique_ptr<ImageInfo> LoadFromMemory(HGLOBAL block, const std::wstring& path,
                                                   int drawn_scale = 100, int wanted_scale = 100);
  static std::unique_ptr<ImageInfo> LoadFromFile(const std::wstring& path, int drawn_scale = 100,
                                                 int wanted_scale = 100);
};

// The settings an image string carries.
struct ImageAttribute {
  std::wstring image_string;
  std::wstring file;
  RECT dest = {};
  bool dest_scaled = true;
  RECT source = {};
  RECT corner = {};
  BYTE fade = 255;
  bool xtiled = false;
  bool ytiled = false;
  int play_count = -1;

  void Init() { *this = ImageAttribute(); }
  // A string without key='value' pairs is a bare file name; otherwise the pairs are read
  // until the first one that is not well-formed, keeping what came before it. A dest is scaled
  // by `dest_scale` percent as it is read, unless a destscale='false' came before it.
  void SetImageString(const std::wstring& text, int dest_scale);
};

// A control's use of an image: its settings and, once painted, the shared decoded picture.
class Image {
 public:
  void SetImageString(const std::wstring& text, int dest_scale);
  void Clear();
  bool IsEmpty() const { return attribute_.image_string.empty(); }

  const ImageAttribute& GetAttribute() const { return attribute_; }
  const std::shared_ptr<ImageInfo>& GetInfo() const { return info_; }
  void SetInfo(std::shared_ptr<ImageInfo> info) { info_ = std::move(info); }

  // The frame this use shows; each control plays a shared picture at its own pace.
  size_t GetCurrentFrame() const { return current_frame_; }
  void SetCurrentFrame(size_t frame) { current_frame_ = frame; }
  size_t GetFrameCount() const { return info_ ? info_->frames.size() : 0; }
  // Milliseconds the current frame stays; pictures that store no delay get a common pace.
  int GetCurrentFrameDelay() const;

 private:
  ImageAttribute attribute_;
  std::shared_ptr<ImageInfo> info_;
  size_t current_frame_ = 0;
};

}  // namespace ui
