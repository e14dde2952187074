// Memory-bitmap painting: nine-slice images with tiling and fading, colors, and GDI+ text.
#include "ui/render/RenderContext.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>

#include "ui/render/GdiPlusApi.h"
#include "ui/render/Scaling.h"

namespace ui {
namespace {

using UniqueGraphics = nbase::UniqueResource<gdip::GraphicsTraits>;
using UniqueGpFont = nbase::UniqueResource<gdip::FontTraits>;
using UniqueGpBrush = nbase::UniqueResource<gdip::BrushTraits>;
using UniqueStringFormat = nbase::UniqueResource<gdip::StringFormatTraits>;

int Width(const RECT& r) {
  return r.right - r.left;
}
int Height(const RECT& r) {
  return r.bottom - r.top;
}

RECT MakeRect(LONG left, LONG top, LONG right, LONG bottom) {
  RECT rect = {left, top, right, bottom};
  return rect;
}

// A GDI+ font from the DC with the GDI font selected (or the DC's own): for a face GDI+ cannot
// map from the LOGFONT, which still renders through the DC's selection.
UniqueGpFont CreateGpFontFromDC(HDC dc, HFONT handle) {
  UniqueGpFont font;
  std::optional<ScopedSelectObject> select;
  if (handle) select.emplace(dc, handle);
  gdip::GpFont* created = nullptr;
  if (gdip::Get().GdipCreateFontFromDC(dc, &created) == gdip::kOk) font.reset(created);
  return font;
}

// GDI+ is handed the DC's clip itself: whether a graphics object made from a DC honours the
// DC's clip differs between implementations.
void ApplyDcClip(HDC dc, gdip::GpGraphics* graphics) {
  UniqueRegion clip(::CreateRectRgn(0, 0, 0, 0));
  if (clip && ::GetClipRgn(dc, clip.get()) == 1) {
    gdip::Get().GdipSetClipHrgn(graphics, clip.get(), gdip::kCombineModeReplace);
  }
}

// This face sits a pixel high when centred in a box with room for it.
bool SitsHighWhenCentred(HDC dc, HFONT font, const RECT& box) {
  LOGFONTW logfont = {};
  if (!font || !::GetObjectW(font, sizeof(logfont), &logfont) ||
      std::wcscmp(logfont.lfFaceName, L"\x65B0\x5B8B\x4F53") != 0) {
    return false;
  }
  ScopedSelectObject select(dc, font);
  TEXTMETRICW metrics = {};
  return ::GetTextMetricsW(dc, &metrics) && Height(box) >= metrics.tmHeight + 2;
}

UniqueStringFormat CloneTypographicFormat() {
  const gdip::Api& api = gdip::Get();
  UniqueStringFormat format;
  gdip::GpStringFormat* generic = nullptr;
  if (api.GdipStringFormatGetGenericTypographic(&generic) != gdip::kOk || !generic) return format;
  gdip::GpStringFormat* clone = nullptr;
  if (api.GdipCloneStringFormat(generic, &clone) == gdip::kOk) format.reset(clone);
  return format;
}

}  // namespace

RenderContext_GdiPlus::RenderContext_GdiPlus() : dc_(::CreateCompatibleDC(nullptr)) {}

RenderContext_GdiPlus::~RenderContext_GdiPlus() {
  ClearFonts();
  // The bitmap cannot be deleted while the DC still holds it.
  if (dc_ && original_bitmap_) ::SelectObject(dc_.get(), original_bitmap_);
  bitmap_.reset();
}

gdip::GpFont* RenderContext_GdiPlus::FontFor(HFONT handle, UniqueGpFont& fallback) {
  LOGFONTW logfont = {};
  if (handle && ::GetObjectW(handle, sizeof(logfont), &logfont)) {
    for (const CachedFont& cached : fonts_) {
      if (std::memcmp(&cached.logfont, &logfont, sizeof(logfont)) == 0) return cached.font;
    }
  }
  gdip::GpFont* created = nullptr;
  if (!handle ||
      gdip::Get().GdipCreateFontFromLogfontW(dc_.get(), &logfont, &created) != gdip::kOk) {
    fallback = CreateGpFontFromDC(dc_.get(), handle);
    return fallback.get();
  }
  // A window uses a handful of fonts; one that keeps meeting new ones starts over.
  constexpr size_t kMostFonts = 32;
  if (fonts_.size() >= kMostFonts) ClearFonts();
  fonts_.push_back({logfont, created});
  return created;
}

void RenderContext_GdiPlus::ClearFonts() {
  for (const CachedFont& cached : fonts_) gdip::Get().GdipDeleteFont(cached.font);
  fonts_.clear();
}

bool RenderContext_GdiPlus::Resize(int width, int height) {
  if (width < 0 || height < 0 || !dc_) return false;
  if (width == width_ && height == height_ && bitmap_) return false;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = std::max(width, 1);
  info.bmiHeader.biHeight = -std::max(height, 1);  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueBitmap bitmap(::CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap) return false;
  HGDIOBJ previous = ::SelectObject(dc_.get(), bitmap.get());
  if (!original_bitmap_) original_bitmap_ = previous;
  bitmap_ = std::move(bitmap);
  bits_ = static_cast<BYTE*>(bits);
  width_ = width;
  height_ = height;
  Clear();
  return true;
}

void RenderContext_GdiPlus::Clear() {
  if (bits_) {
    ::GdiFlush();
    std::memset(bits_, 0, static_cast<size_t>(std::max(width_, 1)) * std::max(height_, 1) * 4);
  }
}

void RenderContext_GdiPlus::PushClip(const RECT& rect, SIZE round) {
  UniqueRegion saved(::CreateRectRgn(0, 0, 0, 0));
  if (saved && ::GetClipRgn(dc_.get(), saved.get()) != 1) saved.reset();
  saved_clips_.push_back(std::move(saved));
  if (round.cx > 0 && round.cy > 0) {
    // The region's right and bottom edges are exclusive, as the rectangle's are.
    UniqueRegion rounded(::CreateRoundRectRgn(rect.left, rect.top, rect.right + 1, rect.bottom + 1,
                                              round.cx, round.cy));
    if (rounded) {
      ::ExtSelectClipRgn(dc_.get(), rounded.get(), RGN_AND);
      return;
    }
  }
  ::IntersectClipRect(dc_.get(), rect.left, rect.top, rect.right, rect.bottom);
}

void RenderContext_GdiPlus::PopClip() {
  if (saved_clips_.empty()) return;
  ::SelectClipRgn(dc_.get(), saved_clips_.back().get());  // null removes the clip
  saved_clips_.pop_back();
}

void RenderContext_GdiPlus::DrawImage(const RECT& paint_rect, HBITMAP bitmap, bool has_alpha,
                                      const RECT& dest, const RECT& source,
                                      const RECT& plain_corners, BYTE fade, bool xtiled,
                                      bool ytiled, int source_scale, int dest_scale) {
  RECT clip = {};
  if (!bitmap || !::IntersectRect(&clip, &dest, &paint_rect)) return;
  const gdip::Api& api = gdip::Get();
  UniqueMemoryDC memory(::CreateCompatibleDC(dc_.get()));
  if (!memory) return;
  ScopedSelectObject select(memory.get(), bitmap);
  ::SetStretchBltMode(dc_.get(), HALFTONE);
  ::SetBrushOrgEx(dc_.get(), 0, 0, nullptr);

  auto scaled = [&plain_corners](int percent) {
    const RECT& p = plain_corners;
    return MakeRect(ScaleByPercent(p.left, percent), ScaleByPercent(p.top, percent),
                    ScaleByPercent(p.right, percent), ScaleByPercent(p.bottom, percent));
  };
  const RECT dest_corners = scaled(dest_scale);
  const RECT corners = scaled(source_scale);
  const BLENDFUNCTION blend = {AC_SRC_OVER, 0, fade, AC_SRC_ALPHA};
  const bool always_blend = transparent_ || has_alpha || fade < 255;

  auto copy = [&](const RECT& to, const RECT& from) {
    if (Width(to) <= 0 || Height(to) <= 0 || Width(from) <= 0 || Height(from) <= 0) return;
    RECT visible = {};
    if (!::IntersectRect(&visible, &to, &paint_rect)) return;
    const bool own_size = Width(to) == Width(from) && Height(to) == Height(from);
    // An opaque picture blended at its own size is the picture itself: copied into the bitmap,
    // a window-sized background takes a fraction of a blend.
    if (own_size && !has_alpha && fade == 255 &&
        CopyOpaque(to, memory.get(), bitmap, {from.left, from.top})) {
      return;
    }
    if ((always_blend || own_size) && api.AlphaBlend) {
      api.AlphaBlend(dc_.get(), to.left, to.top, Width(to), Height(to), memory.get(), from.left,
                     from.top, Width(from), Height(from), blend);
    } else {
      ::StretchBlt(dc_.get(), to.left, to.top, Width(to), Height(to), memory.get(), from.left,
                   from.top, Width(from), Height(from), SRCCOPY);
    }
  };

  const RECT dest_middle =
      MakeRect(dest.left + dest_corners.left, dest.top + dest_corners.top,
               dest.right - dest_corners.right, dest.bottom - dest_corners.bottom);
  const RECT source_middle = MakeRect(source.left + corners.left, source.top + corners.top,
                                      source.right - corners.right, source.bottom - corners.bottom);
  const int tile_width = Width(source_middle);
  const int tile_height = Height(source_middle);
  RECT middle_visible = {};
  if (::IntersectRect(&middle_visible, &dest_middle, &paint_rect) && tile_width > 0 &&
      tile_height > 0) {
    if (xtiled && ytiled) {
      for (LONG y = dest_middle.top; y < dest_middle.bottom; y += tile_height) {
        const LONG piece_height = std::min<LONG>(tile_height, dest_middle.bottom - y);
        for (LONG x = dest_middle.left; x < dest_middle.right; x += tile_width) {
          const LONG piece_width = std::min<LONG>(tile_width, dest_middle.right - x);
          copy(MakeRect(x, y, x + piece_width, y + piece_height),
               MakeRect(source_middle.left, source_middle.top, source_middle.left + piece_width,
                        source_middle.top + piece_height));
        }
      }
    } else if (xtiled) {
      for (LONG x = dest_middle.left; x < dest_middle.right; x += tile_width) {
        const LONG piece_width = std::min<LONG>(tile_width, dest_middle.right - x);
        copy(MakeRect(x, dest_middle.top, x + piece_width, dest_middle.bottom),
             MakeRect(source_middle.left, source_middle.top, source_middle.left + piece_width,
                      source_middle.bottom));
      }
    } else if (ytiled) {
      for (LONG y = dest_middle.top; y < dest_middle.bottom; y += tile_height) {
        const LONG piece_height = std::min<LONG>(tile_height, dest_middle.bottom - y);
        copy(MakeRect(dest_middle.left, y, dest_middle.right, y + piece_height),
             MakeRect(source_middle.left, source_middle.top, source_middle.right,
                      source_middle.top + piece_height));
      }
    } else {
      copy(dest_middle, source_middle);
    }
  }

  const RECT& d = dest;
  const RECT& s = source;
  const RECT& dc = dest_corners;
  const RECT& c = corners;
  // Corners: left-top, right-top, left-bottom, right-bottom.
  copy(MakeRect(d.left, d.top, d.left + dc.left, d.top + dc.top),
       MakeRect(s.left, s.top, s.left + c.left, s.top + c.top));
  copy(MakeRect(d.right - dc.right, d.top, d.right, d.top + dc.top),
       MakeRect(s.right - c.right, s.top, s.right, s.top + c.top));
  copy(MakeRect(d.left, d.bottom - dc.bottom, d.left + dc.left, d.bottom),
       MakeRect(s.left, s.bottom - c.bottom, s.left + c.left, s.bottom));
  copy(MakeRect(d.right - dc.right, d.bottom - dc.bottom, d.right, d.bottom),
       MakeRect(s.right - c.right, s.bottom - c.bottom, s.right, s.bottom));
  // Edges: top, bottom, left, right.
  copy(MakeRect(d.left + dc.left, d.top, d.right - dc.right, d.top + dc.top),
       MakeRect(s.left + c.left, s.top, s.right - c.right, s.top + c.top));
  copy(MakeRect(d.left + dc.left, d.bottom - dc.bottom, d.right - dc.right, d.bottom),
       MakeRect(s.left + c.left, s.bottom - c.bottom, s.right - c.right, s.bottom));
  copy(MakeRect(d.left, d.top + dc.top, d.left + dc.left, d.bottom - dc.bottom),
       MakeRect(s.left, s.top + c.top, s.left + c.left, s.bottom - c.bottom));
  copy(MakeRect(d.right - dc.right, d.top + dc.top, d.right, d.bottom - dc.bottom),
       MakeRect(s.right - c.right, s.top + c.top, s.right, s.bottom - c.bottom));
}

bool RenderContext_GdiPlus::VisiblePieces(const RECT& rect, std::vector<RECT>& pieces) const {
  pieces.clear();
  const RECT surface = {0, 0, width_, height_};
  RECT bounded = {};
  if (!::IntersectRect(&bounded, &rect, &surface)) return true;
  UniqueRegion area(::CreateRectRgnIndirect(&bounded));
  UniqueRegion clip(::CreateRectRgn(0, 0, 0, 0));
  if (!area || !clip) return false;
  const int clipped = ::GetClipRgn(dc_.get(), clip.get());
  if (clipped < 0) return false;
  if (clipped == 1 && ::CombineRgn(area.get(), area.get(), clip.get(), RGN_AND) == ERROR) {
    return false;
  }
  const DWORD size = ::GetRegionData(area.get(), 0, nullptr);
  if (size < sizeof(RGNDATAHEADER)) return false;
  std::vector<BYTE> data(size);
  auto* region = reinterpret_cast<RGNDATA*>(data.data());
  if (::GetRegionData(area.get(), size, region) != size) return false;
  const RECT* listed = reinterpret_cast<const RECT*>(region->Buffer);
  for (DWORD i = 0; i < region->rdh.nCount; ++i) {
    RECT piece = {};
    if (::IntersectRect(&piece, &listed[i], &surface)) pieces.push_back(piece);
  }
  return true;
}

bool RenderContext_GdiPlus::FillOpaque(const RECT& rect, DWORD argb) {
  std::vector<RECT> pieces;
  if (!bits_ || (argb >> 24) != 0xFF || !VisiblePieces(rect, pieces)) return false;
  ::GdiFlush();
  for (const RECT& piece : pieces) {
    for (LONG y = piece.top; y < piece.bottom; ++y) {
      // The bitmap's rows are BGRA, which is a little-endian ARGB value.
      DWORD* row = reinterpret_cast<DWORD*>(bits_) + static_cast<size_t>(y) * width_;
      std::fill(row + piece.left, row + piece.right, argb);
    }
  }
  return true;
}

bool RenderContext_GdiPlus::CopyOpaque(const RECT& to, HDC source_dc, HBITMAP bitmap, POINT from) {
  DIBSECTION section = {};
  if (!bits_ || ::GetObjectW(bitmap, sizeof(section), &section) != sizeof(section) ||
      !section.dsBm.bmBits || section.dsBm.bmBitsPixel != 32) {
    return false;
  }
  const LONG source_width = section.dsBm.bmWidth;
  const LONG source_height = section.dsBm.bmHeight;
  if (from.x < 0 || from.y < 0 || from.x + Width(to) > source_width ||
      from.y + Height(to) > source_height) {
    return false;
  }
  const auto* source = static_cast<const BYTE*>(section.dsBm.bmBits);
  const size_t source_stride = static_cast<size_t>(section.dsBm.bmWidthBytes);
  auto stored = [&](LONG row, LONG x) {
    const BYTE* p = source + row * source_stride + static_cast<size_t>(x) * 4;
    return RGB(p[2], p[1], p[0]);
  };
  // Which way up the rows are stored is not told alike by every system's description of the
  // bitmap: a pixel that differs from its mirror row, read back through the DC, tells. A
  // picture equal to its own mirror image is copied the same either way.
  bool bottom_up = false;
  bool known = false;
  for (LONG row = 0; row < source_height / 2 && !known; ++row) {
    for (LONG x = 0; x < source_width; ++x) {
      const COLORREF upper = stored(row, x);
      const COLORREF lower = stored(source_height - 1 - row, x);
      if (upper == lower) continue;
      const COLORREF shown = ::GetPixel(source_dc, x, row);
      if (shown != upper && shown != lower) return false;
      bottom_up = shown == lower;
      known = true;
      break;
    }
  }
  std::vector<RECT> pieces;
  if (!VisiblePieces(to, pieces)) return false;
  ::GdiFlush();
  for (const RECT& piece : pieces) {
    const LONG x = from.x + (piece.left - to.left);
    for (LONG y = piece.top; y < piece.bottom; ++y) {
      const LONG source_y = from.y + (y - to.top);
      const LONG row = bottom_up ? source_height - 1 - source_y : source_y;
      std::memcpy(bits_ + (static_cast<size_t>(y) * width_ + piece.left) * 4,
                  source + row * source_stride + static_cast<size_t>(x) * 4,
                  static_cast<size_t>(Width(piece)) * 4);
    }
  }
  return true;
}

void RenderContext_GdiPlus::DrawColor(const RECT& rect, DWORD argb) {
  if (Width(rect) <= 0 || Height(rect) <= 0 || (argb >> 24) == 0) return;
  // An opaque color needs no blending, only the clip: written straight into the bitmap, a
  // window-sized fill takes a fraction of what it takes through GDI+.
  if (FillOpaque(rect, argb)) return;
  const gdip::Api& api = gdip::Get();
  if (!api.Loaded()) return;
  UniqueGraphics graphics;
  if (api.GdipCreateFromHDC(dc_.get(), graphics.put()) != gdip::kOk) return;
  ApplyDcClip(dc_.get(), graphics.get());
  UniqueGpBrush brush;
  if (api.GdipCreateSolidFill(argb, brush.put()) != gdip::kOk) return;
  api.GdipFillRectangleI(graphics.get(), reinterpret_cast<gdip::GpBrush*>(brush.get()), rect.left,
                         rect.top, Width(rect), Height(rect));
}

void RenderContext_GdiPlus::DrawRect(const RECT& rect, int line_width, DWORD argb) {
  if (line_width <= 0) return;
  DrawColor(MakeRect(rect.left, rect.top, rect.right, rect.top + line_width), argb);
  DrawColor(MakeRect(rect.left, rect.bottom - line_width, rect.right, rect.bottom), argb);
  DrawColor(
      MakeRect(rect.left, rect.top + line_width, rect.left + line_width, rect.bottom - line_width),
      argb);
  DrawColor(MakeRect(rect.right - line_width, rect.top + line_width, rect.right,
                     rect.bottom - line_width),
            argb);
}

void RenderContext_GdiPlus::DrawRoundRect(const RECT& rect, SIZE round, int line_width,
                                          DWORD argb) {
  if (line_width <= 0 || Width(rect) <= 0 || Height(rect) <= 0 || (argb >> 24) == 0) return;
  const gdip::Api& api = gdip::Get();
  if (!api.Loaded()) return;
  // The ring between the outer rounded shape and the inner one, filled through a clip: the
  // same region shapes the corners of the control's own clip, so the outline meets them.
  UniqueRegion ring(::CreateRoundRectRgn(rect.left, rect.top, rect.right + 1, rect.bottom + 1,
                                         round.cx, round.cy));
  const int inner_cx = std::max<int>(round.cx - 2 * line_width, 0);
  const int inner_cy = std::max<int>(round.cy - 2 * line_width, 0);
  UniqueRegion inner(::CreateRoundRectRgn(rect.left + line_width, rect.top + line_width,
                                          rect.right - line_width + 1, rect.bottom - line_width + 1,
                                          inner_cx, inner_cy));
  if (!ring || !inner) return;
  if (Width(rect) > 2 * line_width && Height(rect) > 2 * line_width) {
    ::CombineRgn(ring.get(), ring.get(), inner.get(), RGN_DIFF);
  }
  UniqueRegion clip(::CreateRectRgn(0, 0, 0, 0));
  if (clip && ::GetClipRgn(dc_.get(), clip.get()) == 1) {
    ::CombineRgn(ring.get(), ring.get(), clip.get(), RGN_AND);
  }
  UniqueGraphics graphics;
  if (api.GdipCreateFromHDC(dc_.get(), graphics.put()) != gdip::kOk) return;
  api.GdipSetClipHrgn(graphics.get(), ring.get(), gdip::kCombineModeReplace);
  UniqueGpBrush brush;
  if (api.GdipCreateSolidFill(argb, brush.put()) != gdip::kOk) return;
  api.GdipFillRectangleI(graphics.get(), reinterpret_cast<gdip::GpBrush*>(brush.get()), rect.left,
                         rect.top, Width(rect), Height(rect));
}

void RenderContext_GdiPlus::DrawText(const RECT& rect, const std::wstring& text, DWORD argb,
                                     HFONT font_handle, UINT style, BYTE alpha, bool line_limit) {
  if (text.empty()) return;
  const gdip::Api& api = gdip::Get();
  if (!api.Loaded()) return;
  UniqueGraphics graphics;
  if (api.GdipCreateFromHDC(dc_.get(), graphics.put()) != gdip::kOk) return;
  ApplyDcClip(dc_.get(), graphics.get());
  UniqueGpFont fallback_font;
  gdip::GpFont* font = FontFor(font_handle, fallback_font);
  if (!font) return;

  // Fully opaque text would lose the alpha of layered windows' anti-aliased edges; 254 keeps it.
  DWORD text_alpha = static_cast<DWORD>((argb >> 24) / 255.0 * alpha);
  if (text_alpha == 255) text_alpha = 254;
  UniqueGpBrush brush;
  if (api.GdipCreateSolidFill((text_alpha << 24) | (argb & 0x00FFFFFF), brush.put()) != gdip::kOk) {
    return;
  }
  UniqueStringFormat format = CloneTypographicFormat();
  if (!format) return;
  if (style & DT_END_ELLIPSIS) {
    api.GdipSetStringFormatTrimming(format.get(), gdip::kStringTrimmingEllipsisCharacter);
  }
  INT flags = 0;
  if (style & DT_NOCLIP) flags |= gdip::kStringFormatFlagsNoClip;
  if (style & DT_SINGLELINE) flags |= gdip::kStringFormatFlagsNoWrap;
  if (line_limit) flags |= gdip::kStringFormatFlagsLineLimit;
  api.GdipSetStringFormatFlags(format.get(), flags);
  int align = gdip::kStringAlignmentNear;
  if (style & DT_CENTER) {
    align = gdip::kStringAlignmentCenter;
  } else if (style & DT_RIGHT) {
    align = gdip::kStringAlignmentFar;
  }
  api.GdipSetStringFormatAlign(format.get(), align);
  int line_align = gdip::kStringAlignmentNear;
  if (style & DT_VCENTER) {
    line_align = gdip::kStringAlignmentCenter;
  } else if (style & DT_BOTTOM) {
    line_align = gdip::kStringAlignmentFar;
  }
  api.GdipSetStringFormatLineAlign(format.get(), line_align);

  RECT layout = rect;
  // Nudging the face that sits high matches the other faces.
  if ((style & DT_VCENTER) && SitsHighWhenCentred(dc_.get(), font_handle, rect)) {
    ::OffsetRect(&layout, 0, 1);
  }
  const gdip::RectF box = {static_cast<float>(layout.left), static_cast<float>(layout.top),
                           static_cast<float>(Width(layout)), static_cast<float>(Height(layout))};
  api.GdipDrawString(graphics.get(), text.c_str(), static_cast<INT>(text.size()), font, &box,
                     format.get(), reinterpret_cast<gdip::GpBrush*>(brush.get()));
}

RECT RenderContext_GdiPlus::MeasureText(const std::wstring& text, HFONT font_handle, UINT style,
                                        int width_limit) {
  RECT result = {};
  const gdip::Api& api = gdip::Get();
  if (!api.Loaded()) return result;
  UniqueGraphics graphics;
  if (api.GdipCreateFromHDC(dc_.get(), graphics.put()) != gdip::kOk) return result;
  UniqueGpFont fallback_font;
  gdip::GpFont* font = FontFor(font_handle, fallback_font);
  UniqueStringFormat format = CloneTypographicFormat();
  if (!font || !format) return result;
  const bool single_line = (style & DT_SINGLELINE) != 0;
  api.GdipSetStringFormatFlags(format.get(), single_line ? gdip::kStringFormatFlagsNoWrap : 0);

  gdip::RectF layout = {0, 0, 0, 0};
  if (width_limit != -1) {
    layout.Width = static_cast<float>(width_limit);
    if (single_line) {
      const wchar_t kSample[] = L"\x6D4B\x8BD5";
      gdip::RectF line = {};
      const gdip::RectF unlimited = {0, 0, 0, 0};
      api.GdipMeasureString(graphics.get(), kSample, 2, font, &unlimited, format.get(), &line,
                            nullptr, nullptr);
      layout.Height = line.Height;
    }
  }
  gdip::RectF bounds = {};
  if (api.GdipMeasureString(graphics.get(), text.c_str(), static_cast<INT>(text.size()), font,
                            &layout, format.get(), &bounds, nullptr, nullptr) != gdip::kOk) {
    return result;
  }
  result.left = static_cast<LONG>(bounds.X);
  result.top = static_cast<LONG>(bounds.Y);
  result.right = static_cast<LONG>(bounds.X + bounds.Width + 1);
  result.bottom = static_cast<LONG>(bounds.Y + bounds.Height + 1);
  return result;
}

}  // namespace ui
