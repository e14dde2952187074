// ui::Combo: a drop-down selector whose items live in a list shown in a popup window.
#pragma once

#include <memory>

#include "ui/controls/ListBox.h"

namespace ui {

class CComboWnd;
class ListContainerElement;

// UI thread only.
class Combo : public Box {
 public:
  Combo();
  ~Combo() override;

  std::wstring GetType() const override { return L"Combo"; }
  void SetAttribute(const std::wstring& name, const std::wstring& value) override;
  void SetWindow(Window* window, Box* parent, bool init = true) override;
  void Activate() override;
  // F4 or Alt+Down opens the list; Up and Down choose the neighbouring item while it is closed.
  // Alt+F4 stays the system's.
  bool WantsKey(UINT key) const override {
    if (key == VK_F4) return ::GetKeyState(VK_MENU) >= 0;
    return key == VK_UP || key == VK_DOWN;
  }
  std::wstring GetAccessibleValue() const override { return GetText(); }

  bool Add(Control* item) override;
  bool Remove(Control* item) override;
  bool RemoveAt(size_t index) override;
  void RemoveAll() override;
  size_t GetCount() const override { return list_->GetCount(); }
  // Never sends "select": that is for choices the user makes in the popup.
  bool SelectItem(int index);
  int GetCurSel() const { return cur_sel_; }
  std::wstring GetText() const;

  ListBox* GetListBox() const { return list_.get(); }
  CComboWnd* GetPopup() const { return popup_; }
  SIZE GetDropBoxSize() const { return drop_size_; }
  bool IsPopupTop() const { return popup_top_; }

 protected:
  void PaintText(IRenderContext* context) override;
  void HandleMessage(EventArgs& args) override;
  int GetDefaultAccessibleRole() const override { return kRoleComboBox; }

 private:
  friend class CComboWnd;
  ListContainerElement* SelectedItem() const;
  bool OnListSelect(EventArgs& args);
  // Chooses the next usable item in the direction, as a choice in the list would.
  void StepSelection(int step);

  CComboWnd* popup_ = nullptr;  // deletes itself after its window is gone
  std::unique_ptr<ListBox> list_;
  int cur_sel_ = -1;
  SIZE drop_size_ = {0, 150};
  std::wstring drop_box_attributes_;
  bool popup_top_ = false;
};

}  // namespace ui
