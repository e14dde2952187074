// Document walking for Global and Window roots, Include, Event and the element-to-control table.
#include "ui/core/WindowBuilder.h"

#include <algorithm>
#include <cwchar>
#include <cstdlib>
#include <utility>
#include <vector>

#include "base/StringUtil.h"
#include "ui/core/Box.h"
#include "ui/core/Control.h"
#include "ui/core/Window.h"
#include "ui/controls/Combo.h"
#include "ui/controls/ListContainerElement.h"
#include "ui/controls/Option.h"
#include "ui/controls/Progress.h"
#include "ui/controls/RichEdit.h"
#include "ui/layouts/TabBox.h"
#include "ui/layouts/VBox.h"

namespace ui {
namespace {

bool IsTrue(const wchar_t* value) {
  return value && std::wcscmp(value, L"true") == 0;
}

std::wstring Trim(const std::wstring& text) {
  const size_t begin = text.find_first_not_of(L" \t\r\n");
  if (begin == std::wstring::npos) return std::wstring();
  const size_t end = text.find_last_not_of(L" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

Control* WindowBuilder::CreateControlByName(const std::wstring& name) {
  if (name == L"Box") return new Box();
  if (name == L"VBox") return new VBox();
  if (name == L"HBox") return new HBox();
  if (name == L"TabBox") return new TabBox();
  if (name == L"Label") return new Label();
  if (name == L"LabelBox") return new LabelBox();
  if (name == L"Button") return new Button();
  if (name == L"ButtonBox") return new ButtonBox();
  if (name == L"CheckBox") return new CheckBox();
  if (name == L"CheckBoxBox") return new CheckBoxBox();
  if (name == L"Option") return new Option();
  if (name == L"OptionBox") return new OptionBox();
  if (name == L"Progress") return new Progress();
  if (name == L"RichEdit") return new RichEdit();
  if (name == L"Combo") return new Combo();
  if (name == L"ListBox") return new ListBox();
  if (name == L"ListContainerElement") return new ListContainerElement();
  // Element names whose own classes do not exist yet: boxes hold children, the rest are plain.
  static const wchar_t* const kBoxes[] = {L"HListBox",    L"VListBox",       L"TileBox",
                                          L"TileListBox", L"VirtualListBox", L"TreeView",
                                          L"TreeNode",    L"ChildBox"};
  static const wchar_t* const kPlain[] = {L"Control", L"Slider", L"ScrollBar", L"LinkButton",
                                          L"CircleProgress"};
  for (const wchar_t* box : kBoxes) {
    if (name == box) return new Box();
  }
  for (const wchar_t* plain : kPlain) {
    if (name == plain) return new Control();
  }
  return nullptr;
}

std::wstring WindowBuilder::BuildClassAttributes(const MarkupNode& node, std::wstring* class_name) {
  std::wstring attributes;
  const int count = node.GetAttributeCount();
  for (int i = 0; i < count; ++i) {
    const std::wstring name = node.GetAttributeName(i);
    const std::wstring value = node.GetAttributeValue(i);
    if (name == L"name") {
      if (class_name) *class_name = value;
    } else if (name == L"value") {
      attributes += value;
    } else if (name == L"_value") {
      attributes += nbase::StringPrintf(L" value=\"%ls\"", value.c_str());
    } else {
      attributes += nbase::StringPrintf(L" %ls=\"%ls\"", name.c_str(), value.c_str());
    }
  }
  return Trim(attributes);
}

bool WindowBuilder::Load(const std::wstring& source) {
  if (!source.empty() && source[0] == L'<') return markup_.Load(source);
  GlobalManager& global = GlobalManager::Instance();
  if (global.IsUseZip()) {
    UniqueGlobalMemory block(global.GetZipData(global.GetResourcePath() + source));
    if (block) {
      ScopedGlobalLock lock(block.get());
      if (!lock.data()) return false;
      return markup_.LoadFromMem(static_cast<const BYTE*>(lock.data()), ::GlobalSize(block.get()),
                                 Markup::kUtf8);
    }
  }
  return markup_.LoadFromFile(source, Markup::kUtf8);
}

namespace {

// How deep the elements under `root` nest (the root alone is 1), measured without recursion.
int NestingDepth(const MarkupNode& root) {
  int deepest = 0;
  std::vector<std::pair<MarkupNode, int>> pending = {{root, 1}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    deepest = std::max(deepest, depth);
    for (MarkupNode child = node.GetChild(); child.IsValid(); child = child.GetSibling()) {
      pending.emplace_back(child, depth + 1);
    }
  }
  return deepest;
}

}  // namespace

Control* WindowBuilder::Create(const std::wstring& source, const CreateControlCallback& callback,
                               Window* window, Box* parent) {
  callback_ = callback;
  window_ = window;
  if (!Load(source)) return nullptr;
  MarkupNode root = markup_.GetRoot();
  if (!root.IsValid()) return nullptr;
  if (outer_depth_ + NestingDepth(root) > kMaxNesting) return nullptr;
  GlobalManager& global = GlobalManager::Instance();
  const std::wstring root_name = root.GetName();

  if (root_name == L"Global") {
    const int count = root.GetAttributeCount();
    for (int i = 0; i < count; ++i) {
      const std::wstring name = root.GetAttributeName(i);
      const std::wstring value = root.GetAttributeValue(i);
      if (name == L"disabledfontcolor") {
        global.SetDefaultDisabledFontColor(value);
      } else if (name == L"defaultfontcolor") {
        global.SetDefaultFontColor(value);
      } else if (name == L"linkfontcolor") {
        global.SetDefaultLinkFontColor(global.GetTextColor(value));
      } else if (name == L"linkhoverfontcolor") {
        global.SetDefaultLinkHoverFontColor(global.GetTextColor(value));
      } else if (name == L"selectedcolor") {
        global.SetDefaultSelectedBkColor(global.GetTextColor(value));
      } else if (name == L"focuscolor") {
        global.SetFocusColor(value);
      }
    }
    for (MarkupNode node = root.GetChild(); node.IsValid(); node = node.GetSibling()) {
      const std::wstring name = node.GetName();
      if (name == L"Font") {
        const wchar_t* id = node.GetAttributeValue(L"id");
        const wchar_t* face = node.GetAttributeValue(L"name");
        const wchar_t* size = node.GetAttributeValue(L"size");
        global.AddFont(
            id ? id : L"", face ? face : L"",
            size ? static_cast<int>(std::wcstol(size, nullptr, 10)) : 0,
            IsTrue(node.GetAttributeValue(L"bold")), IsTrue(node.GetAttributeValue(L"underline")),
            IsTrue(node.GetAttributeValue(L"italic")), IsTrue(node.GetAttributeValue(L"default")));
      } else if (name == L"TextColor") {
        const wchar_t* color_name = node.GetAttributeValue(L"name");
        const wchar_t* value = node.GetAttributeValue(L"value");
        if (color_name && value) global.AddTextColor(color_name, value);
      } else if (name == L"Class") {
        std::wstring class_name;
        const std::wstring attributes = BuildClassAttributes(node, &class_name);
        if (!class_name.empty() && !attributes.empty()) global.AddClass(class_name, attributes);
      }
    }
    return nullptr;
  }

  if (root_name == L"Window") {
    if (window_) {
      const int count = root.GetAttributeCount();
      for (int i = 0; i < count; ++i) {
        window_->SetAttribute(root.GetAttributeName(i), root.GetAttributeValue(i));
      }
      for (MarkupNode node = root.GetChild(); node.IsValid(); node = node.GetSibling()) {
        if (std::wcscmp(node.GetName(), L"Class") != 0) continue;
        std::wstring class_name;
        const std::wstring attributes = BuildClassAttributes(node, &class_name);
        if (!class_name.empty() && !attributes.empty()) window_->AddClass(class_name, attributes);
      }
    }
    return Build(root.GetChild(), parent, 2);
  }
  return Build(root, parent, 1);
}

void WindowBuilder::AttachEventHandler(const MarkupNode& node, Control* parent, bool bubbled) {
  if (!parent) return;
  const wchar_t* type_text = node.GetAttributeValue(L"type");
  const wchar_t* receiver_name = node.GetAttributeValue(L"receiver");
  const wchar_t* apply = node.GetAttributeValue(L"applyattribute");
  if (!type_text || !apply) return;
  const std::wstring receiver = receiver_name ? receiver_name : L"";
  const std::wstring attributes = apply;
  // Several types may be given, separated by blanks.
  for (const std::wstring& type_name : nbase::Split(type_text, L" ")) {
    const int type = EventTypeFromString(type_name);
    auto handler = [parent, receiver, attributes](EventArgs&) {
      Control* target = parent;
      if (!receiver.empty() && parent->GetWindow()) {
        target = parent->GetWindow()->FindControl(receiver);
      }
      if (target) target->ApplyAttributeList(attributes);
      return true;
    };
    if (bubbled) {
      parent->AttachXmlBubbledEvent(type, handler);
    } else {
      parent->AttachXmlEvent(type, handler);
    }
  }
}

Control* WindowBuilder::Build(MarkupNode node, Box* parent, int depth) {
  Control* first = nullptr;
  for (; node.IsValid(); node = node.GetSibling()) {
    const std::wstring name = node.GetName();
    if (name == L"Image" || name == L"Font" || name == L"Class" || name == L"TextColor") continue;

    if (name == L"Include") {
      const wchar_t* source = node.GetAttributeValue(L"source");
      const wchar_t* count_text = node.GetAttributeValue(L"count");
      const int count = count_text ? static_cast<int>(std::wcstol(count_text, nullptr, 10)) : 1;
      if (!source) continue;
      for (int i = 0; i < count; ++i) {
        WindowBuilder builder;
        builder.outer_depth_ = outer_depth_ + depth;
        Control* built = builder.Create(source, callback_, window_, parent);
        if (!first) first = built;
      }
      continue;
    }
    if (name == L"Event" || name == L"BubbledEvent") {
      AttachEventHandler(node, parent, name == L"BubbledEvent");
      continue;
    }

    Control* control = CreateControlByName(name);
    const CreateControlCallback& global_callback =
        GlobalManager::Instance().GetCreateControlCallback();
    if (!control && global_callback) control = global_callback(name);
    if (!control && callback_) control = callback_(name);
    if (!control) continue;

    control->SetWindow(window_, parent, false);
    const int attribute_count = node.GetAttributeCount();
    for (int i = 0; i < attribute_count; ++i) {
      control->SetAttribute(node.GetAttributeName(i), node.GetAttributeValue(i));
    }
    if (node.HasChildren()) {
      if (!control->IsBox()) {
        delete control;
        return nullptr;
      }
      Box* box = static_cast<Box*>(control);
      Build(node.GetChild(), box, depth + 1);
    }
    if (parent) {
      if (!parent->Add(control)) {
        delete control;
        continue;
      }
    }
    if (!first) first = control;
  }
  return first;
}

}  // namespace ui
