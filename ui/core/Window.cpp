// The control-facing half of a window: tree ownership, lookup, Window markup attributes.
#include "ui/core/Window.h"

#include <cwchar>
#include <cstdlib>

#include "ui/core/Box.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"

namespace ui {
namespace {

// Decimal numbers separated by single characters, as every list in the markup is written.
void ParseNumbers(const std::wstring& value, LONG* out[], int count) {
  const wchar_t* p = value.c_str();
  for (int i = 0; i < count; ++i) {
    wchar_t* end = nullptr;
    *out[i] = static_cast<LONG>(std::wcstol(p, &end, 10));
    if (end == p || *end == L'\0') break;
    p = end + 1;
  }
}

RECT ParseRect(const std::wstring& value) {
  RECT rect = {};
  LONG* parts[] = {&rect.left, &rect.top, &rect.right, &rect.bottom};
  ParseNumbers(value, parts, 4);
  return rect;
}

SIZE ParseSize(const std::wstring& value) {
  SIZE size = {};
  LONG* parts[] = {&size.cx, &size.cy};
  ParseNumbers(value, parts, 2);
  return size;
}

RECT ScaledEdges(RECT rect) {
  const DpiManager& dpi = DpiManager::Instance();
  rect.left = dpi.ScaleInt(rect.left);
  rect.top = dpi.ScaleInt(rect.top);
  rect.right = dpi.ScaleInt(rect.right);
  rect.bottom = dpi.ScaleInt(rect.bottom);
  return rect;
}

}  // namespace

Window::Window() = default;

Window::~Window() {
  // Controls may ask the window about capture or hover while they are destroyed.
  capture_ = nullptr;
  hover_ = nullptr;
  root_.reset();
}

void Window::AttachRoot(Control* root) {
  root_.reset(root);
  if (root) root->SetWindow(this, nullptr);
}

Control* Window::FindControl(const std::wstring& name) const {
  if (!root_) return nullptr;
  if (root_->IsBox()) return static_cast<Box*>(root_.get())->FindControlByName(name);
  return _wcsicmp(root_->GetName().c_str(), name.c_str()) == 0 ? root_.get() : nullptr;
}

Control* Window::FindControl(POINT point) const {
  if (!root_) return nullptr;
  if (root_->IsBox()) return static_cast<Box*>(root_.get())->FindControlAt(point);
  return ::PtInRect(&root_->GetPos(), point) ? root_.get() : nullptr;
}

void Window::SetAttribute(const std::wstring& name, const std::wstring& value) {
  const DpiManager& dpi = DpiManager::Instance();
  if (name == L"size") {
    settings_.init_size = ParseSize(value);
    dpi.ScaleSize(settings_.init_size);
  } else if (name == L"heightpercent") {
    settings_.height_percent = std::wcstod(value.c_str(), nullptr);
  } else if (name == L"sizebox") {
    settings_.size_box = ScaledEdges(ParseRect(value));
  } else if (name == L"caption") {
    settings_.caption = ScaledEdges(ParseRect(value));
  } else if (name == L"textid") {
    settings_.text_id = value;
    if (hwnd_) {
      ::SetWindowTextW(hwnd_, GlobalManager::Instance().GetLanguageText(value).c_str());
    }
  } else if (name == L"roundcorner") {
    settings_.round_corner = ParseSize(value);
    dpi.ScaleSize(settings_.round_corner);
  } else if (name == L"mininfo") {
    settings_.min_info = ParseSize(value);
    dpi.ScaleSize(settings_.min_info);
  } else if (name == L"maxinfo") {
    settings_.max_info = ParseSize(value);
    dpi.ScaleSize(settings_.max_info);
  } else if (name == L"shadowattached") {
    settings_.shadow_attached = value == L"true";
  } else if (name == L"shadowimage") {
    settings_.shadow_image = value;
  } else if (name == L"shadowcorner") {
    settings_.shadow_corner = ParseRect(value);
  } else if (name == L"alphafixcorner" || name == L"custom_shadow") {
    settings_.alpha_fix_corner = ScaledEdges(ParseRect(value));
  }
}

void Window::AddClass(const std::wstring& name, const std::wstring& attributes) {
  classes_[name] = attributes;
}

std::wstring Window::GetClassAttributes(const std::wstring& name) const {
  const auto found = classes_.find(name);
  return found == classes_.end() ? std::wstring() : found->second;
}

std::wstring Window::GetWindowResourcePath() {
  std::wstring path = GlobalManager::Instance().GetResourcePath();
  const std::wstring folder = GetSkinFolder();
  if (!folder.empty()) path += folder + L"\\";
  return path;
}

void Window::Invalidate(const RECT& rect) {
  if (hwnd_) ::InvalidateRect(hwnd_, &rect, FALSE);
}

void Window::SetCapture(Control* control) {
  capture_ = control;
  if (hwnd_) ::SetCapture(hwnd_);
}

void Window::ReleaseCapture() {
  capture_ = nullptr;
  if (hwnd_ && ::GetCapture() == hwnd_) ::ReleaseCapture();
}

void Window::OnControlDestroyed(Control* control) {
  if (capture_ == control) ReleaseCapture();
  if (hover_ == control) hover_ = nullptr;
}

}  // namespace ui
