// ui::Window as the controls see it: the tree's root, name lookup, classes, capture, repaint.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

namespace ui {

class Control;

// The settings a Window element of the markup carries, DPI-scaled when set.
struct WindowSettings {
  SIZE init_size = {};
  double height_percent = 0;
  RECT size_box = {};
  RECT caption = {};
  std::wstring text_id;
  SIZE round_corner = {};
  SIZE min_info = {};
  SIZE max_info = {};
  bool shadow_attached = true;
  std::wstring shadow_image;
  RECT shadow_corner = {};
  RECT alpha_fix_corner = {};
};

// UI thread only. The native window host builds on this; what is here needs no HWND, so the
// builder and controls work with a window that has none yet.
class Window {
 public:
  Window();
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND GetHWND() const { return hwnd_; }
  void SetHWND(HWND hwnd) { hwnd_ = hwnd; }

  // Takes ownership of the root and gives the tree this window.
  void AttachRoot(Control* root);
  Control* GetRoot() const { return root_.get(); }
  Control* FindControl(const std::wstring& name) const;
  Control* FindControl(POINT point) const;

  void SetAttribute(const std::wstring& name, const std::wstring& value);
  const WindowSettings& GetSettings() const { return settings_; }

  void AddClass(const std::wstring& name, const std::wstring& attributes);
  std::wstring GetClassAttributes(const std::wstring& name) const;

  // The folder under the resource path that holds this window's layout and pictures.
  virtual std::wstring GetSkinFolder() { return std::wstring(); }
  std::wstring GetWindowResourcePath();

  void Invalidate(const RECT& rect);
  void SetCapture(Control* control);
  void ReleaseCapture();
  Control* GetCapture() const { return capture_; }
  Control* GetHoverControl() const { return hover_; }
  void SetHoverControl(Control* control) { hover_ = control; }
  // Forgets pointers to a control that is being destroyed.
  void OnControlDestroyed(Control* control);

 private:
  HWND hwnd_ = nullptr;
  std::unique_ptr<Control> root_;
  WindowSettings settings_;
  std::map<std::wstring, std::wstring> classes_;
  Control* capture_ = nullptr;
  Control* hover_ = nullptr;
};

}  // namespace ui
