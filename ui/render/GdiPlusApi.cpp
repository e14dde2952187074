// Binds the GDI+ flat API and the alpha blend once per process from the system folder.
#include "ui/render/GdiPlusApi.h"

#include "base/SystemLibrary.h"

namespace ui {
namespace gdip {
namespace {

Api BindAll() {
  Api api = {};
  const wchar_t* const kGdiPlus = L"gdiplus.dll";
  bool ok = true;
#define UI_BIND(name) ok &= nbase::BindSystemFunction(api.name, kGdiPlus, #name)
  UI_BIND(GdiplusStartup);
  UI_BIND(GdiplusShutdown);
  UI_BIND(GdipCreateBitmapFromStream);
  UI_BIND(GdipCreateBitmapFromFile);
  UI_BIND(GdipCreateBitmapFromScan0);
  UI_BIND(GdipDisposeImage);
  UI_BIND(GdipImageGetFrameCount);
  UI_BIND(GdipImageSelectActiveFrame);
  UI_BIND(GdipGetPropertyItemSize);
  UI_BIND(GdipGetPropertyItem);
  UI_BIND(GdipCreateHBITMAPFromBitmap);
  UI_BIND(GdipGetImagePixelFormat);
  UI_BIND(GdipGetImagePaletteSize);
  UI_BIND(GdipGetImagePalette);
  UI_BIND(GdipGetImageWidth);
  UI_BIND(GdipGetImageHeight);
  UI_BIND(GdipBitmapLockBits);
  UI_BIND(GdipBitmapUnlockBits);
  UI_BIND(GdipCreateFromHDC);
  UI_BIND(GdipDeleteGraphics);
  UI_BIND(GdipCreateFontFromLogfontW);
  UI_BIND(GdipCreateFontFromDC);
  UI_BIND(GdipDeleteFont);
  UI_BIND(GdipCreateSolidFill);
  UI_BIND(GdipDeleteBrush);
  UI_BIND(GdipFillRectangleI);
  UI_BIND(GdipSetClipHrgn);
  UI_BIND(GdipStringFormatGetGenericTypographic);
  UI_BIND(GdipCloneStringFormat);
  UI_BIND(GdipDeleteStringFormat);
  UI_BIND(GdipSetStringFormatTrimming);
  UI_BIND(GdipSetStringFormatFlags);
  UI_BIND(GdipSetStringFormatAlign);
  UI_BIND(GdipSetStringFormatLineAlign);
  UI_BIND(GdipDrawString);
  UI_BIND(GdipMeasureString);
#undef UI_BIND
  // gdi32's own entry, which msimg32's AlphaBlend forwards to: gdi32 is loaded already, and
  // msimg32 would be one more library to load before the first paint.
  ok &= nbase::BindSystemFunction(api.AlphaBlend, L"gdi32.dll", "GdiAlphaBlend");
  api.loaded = ok;
  return api;
}

}  // namespace

const Api& Get() {
  static const Api api = BindAll();
  return api;
}

}  // namespace gdip
}  // namespace ui
