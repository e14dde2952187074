// ui::CComboWnd: the borderless popup that shows a combo's list while it is open.
#pragma once

#include "ui/core/Window.h"

namespace ui {

class Combo;

// UI thread only. Created by Combo::Activate; deletes itself after its window is destroyed.
class CComboWnd : public Window {
 public:
  void Init(Combo* owner);

 protected:
  std::wstring GetWindowClassName() const override { return L"ComboWnd"; }
  void OnFinalMessage(HWND hwnd) override;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;
  // A long list opens scrolled to the chosen item.
  void OnInitLayout() override;
  int GetAccessibleClientRole() const override;
  std::wstring GetAccessibleClientName() const override;

 private:
  // Takes the list out of the popup and gives it back to the combo's window.
  void ReturnList();
  // Up and Down move the highlight, Return chooses it, Escape closes with nothing chosen.
  bool OnKeyDown(WPARAM key);
  // Tells screen readers where the highlight is: the list's selection and its keyboard focus.
  void AnnounceHighlight();

  Combo* owner_ = nullptr;
  int old_sel_ = -1;
  bool closing_ = false;
};

}  // namespace ui
