// ui::WindowImplBase: a skinned application window built from a layout file.
#pragma once

#include "ui/core/GlobalManager.h"
#include "ui/core/Window.h"

namespace ui {

class ShadowBox;
struct EventArgs;

// UI thread only.
class WindowImplBase : public Window {
 public:
  WindowImplBase() = default;

  // The layout file's name; a text starting with "<" is taken as the layout itself.
  virtual std::wstring GetSkinFile() = 0;
  std::wstring GetSkinFolder() override = 0;
  virtual LONG GetStyle() const { return WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN; }
  // Controls for element names the builder does not know.
  virtual Control* CreateControl(const std::wstring& element_name) {
    (void)element_name;
    return nullptr;
  }

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

  virtual LRESULT OnCreate(UINT message, WPARAM wparam, LPARAM lparam, bool& handled);
  // Whether the window takes its place centered in its monitor's work area when it takes its
  // layout's size; otherwise it keeps the place it was created at.
  virtual bool CentersWhenCreated() const { return false; }
  virtual LRESULT OnNcHitTest(UINT message, WPARAM wparam, LPARAM lparam, bool& handled);
  virtual LRESULT OnGetMinMaxInfo(UINT message, WPARAM wparam, LPARAM lparam, bool& handled);
  virtual LRESULT OnSize(UINT message, WPARAM wparam, LPARAM lparam, bool& handled);
  virtual LRESULT OnSysCommand(UINT message, WPARAM wparam, LPARAM lparam, bool& handled);
  virtual LRESULT OnDpiChanged(UINT message, WPARAM wparam, LPARAM lparam, bool& handled);
  // Other messages a subclass wants first; the default takes none.
  virtual LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam, bool& handled);
  // The title-bar buttons by name; true lets the event go on.
  virtual bool OnButtonClick(EventArgs& args);
  // Escape closes the way Alt+F4 does, through the system's close command.
  bool OnEscapeKey() override;

 private:
  Control* AttachShadow(Control* root);
  void ScaleShadow();

  ShadowBox* shadow_ = nullptr;
  SIZE root_fixed_ = {};
};

}  // namespace ui
