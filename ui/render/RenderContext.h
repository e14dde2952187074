// Painting surface of a window: a 32-bit memory bitmap drawn with GDI, AlphaBlend and GDI+.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/render/GdiHandles.h"

namespace ui {

namespace gdip {
struct GpFont;
struct FontTraits;
}  // namespace gdip

class IRenderContext {
 public:
  virtual ~IRenderContext() = default;

  virtual HDC GetDC() const = 0;
  // Changes the surface size; true when the size actually changed (the content is lost then).
  virtual bool Resize(int width, int height) = 0;
  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  virtual void Clear() = 0;
  // The 32-bit top-down pixels (BGRA), or null before the first Resize.
  virtual BYTE* GetBits() const = 0;

  // Set for layered windows, whose alpha channel must survive every copy.
  virtual void SetRenderTransparent(bool transparent) = 0;
  virtual bool IsRenderTransparent() const = 0;

  // Limits every later drawing to `rect` (with corners rounded by `round`, when not empty) inside
  // whatever clip is already set, until the matching PopClip. A partial repaint draws whole
  // pictures and texts, so only the clip keeps it from changing pixels outside its update.
  virtual void PushClip(const RECT& rect, SIZE round = SIZE()) = 0;
  virtual void PopClip() = 0;

  // `corners` count in pixels of the plain picture; `source_scale` (percent) is the scale the
  // bitmap was drawn at, so its corner pieces are that much larger, and `dest_scale` the one
  // the window paints at, so the corners it covers are that much larger too.
  virtual void DrawImage(const RECT& paint_rect, HBITMAP bitmap, bool has_alpha, const RECT& dest,
                         const RECT& source, const RECT& corners, BYTE fade = 255,
                         bool xtiled = false, bool ytiled = false, int source_scale = 100,
                         int dest_scale = 100) = 0;
  virtual void DrawColor(const RECT& rect, DWORD argb) = 0;
  virtual void DrawRect(const RECT& rect, int line_width, DWORD argb) = 0;
  // The outline of `rect` with corners rounded by `round`, `line_width` pixels thick inwards.
  virtual void DrawRoundRect(const RECT& rect, SIZE round, int line_width, DWORD argb) = 0;
  // A null font stands for the one the DC holds.
  virtual void DrawText(const RECT& rect, const std::wstring& text, DWORD argb, HFONT font,
                        UINT style, BYTE alpha = 255, bool line_limit = false) = 0;
  virtual RECT MeasureText(const std::wstring& text, HFONT font, UINT style,
                           int width_limit = -1) = 0;
};

// UI thread only.
class RenderContext_GdiPlus : public IRenderContext {
 public:
  RenderContext_GdiPlus();
  ~RenderContext_GdiPlus() override;

  HDC GetDC() const override { return dc_.get(); }
  bool Resize(int width, int height) override;
  int GetWidth() const override { return width_; }
  int GetHeight() const override { return height_; }
  void Clear() override;
  BYTE* GetBits() const override { return bits_; }

  void SetRenderTransparent(bool transparent) override { transparent_ = transparent; }
  bool IsRenderTransparent() const override { return transparent_; }

  void PushClip(const RECT& rect, SIZE round) override;
  void PopClip() override;

  void DrawImage(const RECT& paint_rect, HBITMAP bitmap, bool has_alpha, const RECT& dest,
                 const RECT& source, const RECT& corners, BYTE fade, bool xtiled, bool ytiled,
                 int source_scale, int dest_scale) override;
  void DrawColor(const RECT& rect, DWORD argb) override;
  void DrawRect(const RECT& rect, int line_width, DWORD argb) override;
  void DrawRoundRect(const RECT& rect, SIZE round, int line_width, DWORD argb) override;
  void DrawText(const RECT& rect, const std::wstring& text, DWORD argb, HFONT font, UINT style,
                BYTE alpha, bool line_limit) override;
  RECT MeasureText(const std::wstring& text, HFONT font, UINT style, int width_limit) override;

 private:
  // The rectangles of `rect` inside the surface and the clip; false when the clip cannot be read.
  bool VisiblePieces(const RECT& rect, std::vector<RECT>& pieces) const;
  // False when the color is not opaque or the clip cannot be read; GDI+ draws it then.
  bool FillOpaque(const RECT& rect, DWORD argb);
  // Copies the opaque 32-bit `bitmap`'s pixels from `from` into `to`, within the clip;
  // `source_dc` holds the bitmap. False when its pixels cannot be read directly, and AlphaBlend
  // draws it then.
  bool CopyOpaque(const RECT& to, HDC source_dc, HBITMAP bitmap, POINT from);

  UniqueMemoryDC dc_;
  UniqueBitmap bitmap_;
  HGDIOBJ original_bitmap_ = nullptr;
  BYTE* bits_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  bool transparent_ = false;
  // The clip each PushClip replaced; a null entry stands for no clip at all.
  std::vector<UniqueRegion> saved_clips_;
  // GDI+ fonts made from the GDI fonts this context has drawn or measured with, by LOGFONT
  // (a handle may be reused for another font once deleted): making one costs more than drawing
  // the text. They are deleted with the context, which therefore goes before GDI+ is shut down,
  // as the windows holding contexts do.
  struct CachedFont {
    LOGFONTW logfont;
    gdip::GpFont* font;
  };
  std::vector<CachedFont> fonts_;
  // The kept font for `handle`, else one made from the DC and handed to `fallback` to own.
  gdip::GpFont* FontFor(HFONT handle, nbase::UniqueResource<gdip::FontTraits>& fallback);
  void ClearFonts();
};

// Sets a clip for one scope.
class ScopedClip {
 public:
  ScopedClip(IRenderContext* context, const RECT& rect, SIZE round = SIZE()) : context_(context) {
    context_->PushClip(rect, round);
  }
  ~ScopedClip() { context_->PopClip(); }
  ScopedClip(const ScopedClip&) = delete;
  ScopedClip& operator=(const ScopedClip&) = delete;

 private:
  IRenderContext* context_;
};

}  // namespace ui
