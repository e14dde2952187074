// Turns a layout or style document into global tables, window settings and a control tree.
#pragma once

#include <memory>
#include <string>

#include "ui/core/GlobalManager.h"
#include "ui/core/Markup.h"

namespace ui {

class Box;
class Control;
class Window;

// UI thread only.
class WindowBuilder {
 public:
  WindowBuilder() = default;
  WindowBuilder(const WindowBuilder&) = delete;
  WindowBuilder& operator=(const WindowBuilder&) = delete;

  // Deepest nesting of elements (counting included files) that is built; deeper layouts are
  // refused whole, because building, laying out, painting and deleting a tree all recurse.
  static constexpr int kMaxNesting = 256;

  // `source` is XML text (it starts with "<") or a path under the resource path. Returns the
  // first top-level control, or null when nothing was built.
  Control* Create(const std::wstring& source, const CreateControlCallback& callback, Window* window,
                  Box* parent);

  const Markup& GetMarkup() const { return markup_; }

  // Builds a Class attribute string from an element's attributes.
  static std::wstring BuildClassAttributes(const MarkupNode& node, std::wstring* class_name);
  // A control for one of the element names the framework knows, or null.
  static Control* CreateControlByName(const std::wstring& name);

 private:
  bool Load(const std::wstring& source);
  Control* Build(MarkupNode node, Box* parent, int depth);
  void AttachEventHandler(const MarkupNode& node, Control* parent, bool bubbled);

  Markup markup_;
  CreateControlCallback callback_;
  Window* window_ = nullptr;
  int outer_depth_ = 0;  // the nesting of the Include element that loads this document
};

}  // namespace ui
