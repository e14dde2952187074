// The GDI+ flat API and the alpha blend, bound at run time: GDI+ must not enter the import table.
#pragma once

#include <windows.h>
#include <objidl.h>

namespace ui {
namespace gdip {

// Opaque GDI+ object types; only pointers to them cross the API.
struct GpImage;
struct GpBitmap;
struct GpGraphics;
struct GpFont;
struct GpBrush;
struct GpSolidFill;
struct GpStringFormat;

using ARGB = DWORD;
using PixelFormat = INT;
using GpStatus = int;
constexpr GpStatus kOk = 0;

constexpr PixelFormat kPixelFormatIndexed = 0x00010000;
constexpr PixelFormat kPixelFormat32bppARGB = 0x0026200A;
constexpr UINT kPaletteFlagsHasAlpha = 0x0001;
constexpr UINT kImageLockModeRead = 0x0001;
constexpr PROPID kPropertyTagFrameDelay = 0x5100;
constexpr int kUnitPixel = 2;
constexpr int kCombineModeReplace = 0;

constexpr int kStringTrimmingEllipsisCharacter = 3;
constexpr INT kStringFormatFlagsNoWrap = 0x1000;
constexpr INT kStringFormatFlagsLineLimit = 0x2000;
constexpr INT kStringFormatFlagsNoClip = 0x4000;
constexpr int kStringAlignmentNear = 0;
constexpr int kStringAlignmentCenter = 1;
constexpr int kStringAlignmentFar = 2;

struct StartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};

struct RectF {
  float X;
  float Y;
  float Width;
  float Height;
};

struct GpRect {
  INT X;
  INT Y;
  INT Width;
  INT Height;
};

struct BitmapData {
  UINT Width;
  UINT Height;
  INT Stride;
  PixelFormat Format;
  void* Scan0;
  UINT_PTR Reserved;
};

struct ColorPalette {
  UINT Flags;
  UINT Count;
  ARGB Entries[1];
};

struct PropertyItem {
  PROPID id;
  ULONG length;
  WORD type;
  void* value;
};

// Every pointer is null when the library or the export is missing; callers check `Loaded()`.
struct Api {
  GpStatus(WINAPI* GdiplusStartup)(ULONG_PTR*, const StartupInput*, void*);
  void(WINAPI* GdiplusShutdown)(ULONG_PTR);
  GpStatus(WINAPI* GdipCreateBitmapFromStream)(IStream*, GpBitmap**);
  GpStatus(WINAPI* GdipCreateBitmapFromFile)(const WCHAR*, GpBitmap**);
  GpStatus(WINAPI* GdipCreateBitmapFromScan0)(INT, INT, INT, PixelFormat, BYTE*, GpBitmap**);
  GpStatus(WINAPI* GdipDisposeImage)(GpImage*);
  GpStatus(WINAPI* GdipImageGetFrameCount)(GpImage*, const GUID*, UINT*);
  GpStatus(WINAPI* GdipImageSelectActiveFrame)(GpImage*, const GUID*, UINT);
  GpStatus(WINAPI* GdipGetPropertyItemSize)(GpImage*, PROPID, UINT*);
  GpStatus(WINAPI* GdipGetPropertyItem)(GpImage*, PROPID, UINT, PropertyItem*);
  GpStatus(WINAPI* GdipCreateHBITMAPFromBitmap)(GpBitmap*, HBITMAP*, ARGB);
  GpStatus(WINAPI* GdipGetImagePixelFormat)(GpImage*, PixelFormat*);
  GpStatus(WINAPI* GdipGetImagePaletteSize)(GpImage*, INT*);
  GpStatus(WINAPI* GdipGetImagePalette)(GpImage*, ColorPalette*, INT);
  GpStatus(WINAPI* GdipGetImageWidth)(GpImage*, UINT*);
  GpStatus(WINAPI* GdipGetImageHeight)(GpImage*, UINT*);
  GpStatus(WINAPI* GdipBitmapLockBits)(GpBitmap*, const GpRect*, UINT, PixelFormat, BitmapData*);
  GpStatus(WINAPI* GdipBitmapUnlockBits)(GpBitmap*, BitmapData*);
  GpStatus(WINAPI* GdipCreateFromHDC)(HDC, GpGraphics**);
  GpStatus(WINAPI* GdipDeleteGraphics)(GpGraphics*);
  GpStatus(WINAPI* GdipCreateFontFromLogfontW)(HDC, const LOGFONTW*, GpFont**);
  GpStatus(WINAPI* GdipCreateFontFromDC)(HDC, GpFont**);
  GpStatus(WINAPI* GdipDeleteFont)(GpFont*);
  GpStatus(WINAPI* GdipCreateSolidFill)(ARGB, GpSolidFill**);
  GpStatus(WINAPI* GdipDeleteBrush)(GpBrush*);
  GpStatus(WINAPI* GdipFillRectangleI)(GpGraphics*, GpBrush*, INT, INT, INT, INT);
  GpStatus(WINAPI* GdipSetClipHrgn)(GpGraphics*, HRGN, int);
  GpStatus(WINAPI* GdipStringFormatGetGenericTypographic)(GpStringFormat**);
  GpStatus(WINAPI* GdipCloneStringFormat)(const GpStringFormat*, GpStringFormat**);
  GpStatus(WINAPI* GdipDeleteStringFormat)(GpStringFormat*);
  GpStatus(WINAPI* GdipSetStringFormatTrimming)(GpStringFormat*, int);
  GpStatus(WINAPI* GdipSetStringFormatFlags)(GpStringFormat*, INT);
  GpStatus(WINAPI* GdipSetStringFormatAlign)(GpStringFormat*, int);
  GpStatus(WINAPI* GdipSetStringFormatLineAlign)(GpStringFormat*, int);
  GpStatus(WINAPI* GdipDrawString)(GpGraphics*, const WCHAR*, INT, const GpFont*, const RectF*,
                                   const GpStringFormat*, const GpBrush*);
  GpStatus(WINAPI* GdipMeasureString)(GpGraphics*, const WCHAR*, INT, const GpFont*, const RectF*,
                                      const GpStringFormat*, RectF*, INT*, INT*);
  BOOL(WINAPI* AlphaBlend)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);

  bool Loaded() const { return loaded; }
  bool loaded;
};

// Bound on first use from the system folder. UI thread only, like everything that draws.
const Api& Get();

// Owning pointers for the GDI+ objects, released through the bound API.
struct ImageTraits {
  using Type = GpImage*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type p) noexcept { Get().GdipDisposeImage(p); }
};
struct GraphicsTraits {
  using Type = GpGraphics*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type p) noexcept { Get().GdipDeleteGraphics(p); }
};
struct FontTraits {
  using Type = GpFont*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type p) noexcept { Get().GdipDeleteFont(p); }
};
struct BrushTraits {
  using Type = GpSolidFill*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type p) noexcept { Get().GdipDeleteBrush(reinterpret_cast<GpBrush*>(p)); }
};
struct StringFormatTraits {
  using Type = GpStringFormat*;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type p) noexcept { Get().GdipDeleteStringFormat(p); }
};

}  // namespace gdip
}  // namespace ui
