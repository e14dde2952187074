// Owning wrappers for the GDI handles the framework creates: objects and memory DCs.
#pragma once

#include <windows.h>

#include "base/UniqueResource.h"

namespace ui {

template <typename T>
using GdiObjectTraits = nbase::NullableTraits<T, &::DeleteObject>;
using MemoryDCTraits = nbase::NullableTraits<HDC, &::DeleteDC>;

using UniqueFont = nbase::UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueBitmap = nbase::UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = nbase::UniqueResource<GdiObjectTraits<HBRUSH>>;
using UniquePen = nbase::UniqueResource<GdiObjectTraits<HPEN>>;
using UniqueRegion = nbase::UniqueResource<GdiObjectTraits<HRGN>>;
using UniqueMemoryDC = nbase::UniqueResource<MemoryDCTraits>;
// Global memory blocks are owned and locked with the base library's wrappers.
using nbase::ScopedGlobalLock;
using nbase::UniqueGlobalMemory;

// Selects an object into a DC for one scope and puts the previous one back.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~ScopedSelectObject() {
    if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace ui
