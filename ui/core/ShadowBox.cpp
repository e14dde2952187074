// ui::ShadowBox painting: the shadow round the content, not under the content's opaque background.
#include "ui/core/ShadowBox.h"

#include <algorithm>

#include "ui/core/GlobalManager.h"
#include "ui/render/RenderContext.h"

namespace ui {

void ShadowBox::PaintBkImage(IRenderContext* context) {
  RECT core = {};
  if (!OpaqueCore(core)) {
    Box::PaintBkImage(context);
    return;
  }
  // A window-sized shadow stretched and blended under the whole page cost more than the rest
  // of the pictures of the first paint together; drawn through four strips round the core,
  // each pixel it leaves is the one the full drawing gave.
  const RECT& pos = GetPos();
  const RECT strips[] = {{pos.left, pos.top, pos.right, core.top},
                         {pos.left, core.bottom, pos.right, pos.bottom},
                         {pos.left, core.top, core.left, core.bottom},
                         {core.right, core.top, pos.right, core.bottom}};
  for (const RECT& strip : strips) {
    if (::IsRectEmpty(&strip)) continue;
    ScopedClip clip(context, strip);
    Box::PaintBkImage(context);
  }
}

bool ShadowBox::OpaqueCore(RECT& core) const {
  if (GetCount() != 1) return false;
  const Control* content = GetItemAt(0);
  if (!content || !content->IsVisible() || content->GetAlpha() < 255 || content->IsAlphaFading() ||
      content->GetBkColor().empty()) {
    return false;
  }
  const DWORD color = GlobalManager::Instance().GetTextColor(content->GetBkColor());
  if ((color >> 24) != 0xFF) return false;
  core = content->GetPos();
  // Rounded corners let the shadow through: the core keeps clear of them.
  const SIZE round = content->GetBorderRound();
  ::InflateRect(&core, -std::max<LONG>(round.cx, 0), -std::max<LONG>(round.cy, 0));
  RECT inside = {};
  return ::IntersectRect(&inside, &core, &GetPos()) && ::EqualRect(&inside, &core);
}

}  // namespace ui
