// The combo box in a real window: popup size and placement, choosing, closing and SelectItem.
#include <gtest/gtest.h>

#include "tests/ui/UiTestSupport.h"

#include <functional>
#include <vector>

#include "ui/controls/Combo.h"
#include "ui/controls/ComboWnd.h"
#include "ui/controls/ListBox.h"
#include "ui/controls/ListContainerElement.h"
#include "ui/core/WindowImplBase.h"

namespace {

const wchar_t kSkin[] =
    L"<Window size=\"240,200\" shadowattached=\"false\">"
    L"<VBox name=\"root\"><Combo name=\"combo\" width=\"120\" height=\"28\"/>"
    L"<Control name=\"rest\"/></VBox></Window>";

class ComboWindow : public ui::WindowImplBase {
 public:
  std::wstring GetSkinFile() override { return kSkin; }
  std::wstring GetSkinFolder() override { return L""; }

 protected:
  std::wstring GetWindowClassName() const override { return L"UiTestComboWindow"; }
};

class ComboTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hwnd_ = ui_test::OpenPopup(window_, L"combo", {40, 40, 280, 240}, false);
    ASSERT_NE(hwnd_, nullptr);
    ::UpdateWindow(hwnd_);
    combo_ = static_cast<ui::Combo*>(window_.FindControl(L"combo"));
    ASSERT_NE(combo_, nullptr);
    ASSERT_TRUE(Pump([&] { return combo_->GetPos().right > 0; }));
    for (const wchar_t* text : {L"English", L"Deutsch", L"Other"}) {
      auto* item = new ui::ListContainerElement();
      item->SetAttribute(L"height", L"28");
      item->SetText(text);
      combo_->Add(item);
    }
    combo_->AttachEvent(ui::kEventAll, [&](ui::EventArgs& args) {
      if (args.type == ui::kEventClick || args.type == ui::kEventSelect) {
        events_.push_back(args.type == ui::kEventSelect ? static_cast<int>(args.wparam) : -100);
      }
      return true;
    });
  }
  void TearDown() override {
    if (::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
  }

  // Runs the message loop until `done`, failing after five seconds instead of hanging. Closing
  // an active popup takes this Wine two seconds without a window manager.
  bool Pump(const std::function<bool()>& done) { return ui_test::PumpUntil(done, 5000); }
  static void Click(HWND hwnd, const RECT& r) {
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, at);
    ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(hwnd, WM_LBUTTONUP, 0, at);
  }
  // Opens the popup with a click and returns its window rectangle on the screen.
  RECT Open() {
    Click(hwnd_, combo_->GetPos());
    RECT popup = {};
    if (!combo_->GetPopup()) return popup;
    HWND hwnd = combo_->GetPopup()->GetHWND();
    EXPECT_TRUE(Pump([&] { return combo_->GetListBox()->GetItemAt(2)->GetPos().bottom > 0; }));
    ::GetWindowRect(hwnd, &popup);
    return popup;
  }
  RECT ComboOnScreen() {
    RECT r = combo_->GetPos();
    ::MapWindowPoints(hwnd_, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  bool Closed() {
    return Pump([&] { return combo_->GetPopup() == nullptr; });
  }

  ComboWindow window_;
  HWND hwnd_ = nullptr;
  ui::Combo* combo_ = nullptr;
  std::vector<int> events_;  // -100 for a click, else the chosen index of a "select"
};

TEST_F(ComboTest, PopupFitsItsItemsAndChoosingSelects) {
  const RECT popup = Open();
  ASSERT_NE(combo_->GetPopup(), nullptr);
  const RECT anchor = ComboOnScreen();
  EXPECT_EQ(popup.bottom - popup.top, 86);  // three 28-pixel items and the list's border
  EXPECT_EQ(popup.top, anchor.bottom + 1);
  EXPECT_EQ(popup.right - popup.left, anchor.right - anchor.left);
  EXPECT_EQ(events_, std::vector<int>{-100});
  combo_->Activate();  // already open: nothing happens
  EXPECT_EQ(events_.size(), 1u);

  HWND popup_hwnd = combo_->GetPopup()->GetHWND();
  Click(popup_hwnd, combo_->GetListBox()->GetItemAt(1)->GetPos());
  EXPECT_EQ(events_, (std::vector<int>{-100, 1}));
  EXPECT_EQ(combo_->GetCurSel(), 1);
  EXPECT_EQ(combo_->GetText(), L"Deutsch");
  ASSERT_TRUE(Closed());
  EXPECT_FALSE(::IsWindow(popup_hwnd));
  EXPECT_EQ(events_.size(), 2u);

  // The list is back with the combo and can be opened again.
  EXPECT_EQ(combo_->GetListBox()->GetWindow(), &window_);
  Open();
  EXPECT_NE(combo_->GetPopup(), nullptr);
}

TEST_F(ComboTest, ClickingElsewhereClosesWithoutAnEvent) {
  ASSERT_TRUE(combo_->SelectItem(0));
  Open();
  ASSERT_NE(combo_->GetPopup(), nullptr);
  events_.clear();
  ::SetFocus(hwnd_);
  ASSERT_TRUE(Closed());
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(combo_->GetCurSel(), 0);
  EXPECT_EQ(combo_->GetText(), L"English");
}

TEST_F(ComboTest, OpensAboveWhenThereIsNoRoomBelow) {
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTONEAREST), &monitor);
  ::SetWindowPos(hwnd_, nullptr, 40, monitor.rcWork.bottom - 60, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT popup = Open();
  EXPECT_EQ(popup.bottom, ComboOnScreen().top);
  EXPECT_EQ(popup.bottom - popup.top, 86);
  ::SetFocus(hwnd_);
  ASSERT_TRUE(Closed());

  // With "popuptop" it opens above even where there is room.
  ::SetWindowPos(hwnd_, nullptr, 40, 300, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  combo_->SetAttribute(L"popuptop", L"true");
  popup = Open();
  EXPECT_EQ(popup.bottom, ComboOnScreen().top);
}

TEST_F(ComboTest, SelectItemNeverSendsSelect) {
  EXPECT_EQ(combo_->GetCurSel(), -1);
  EXPECT_EQ(combo_->GetText(), L"");
  EXPECT_TRUE(combo_->SelectItem(2));
  EXPECT_FALSE(combo_->SelectItem(2));
  EXPECT_FALSE(combo_->SelectItem(3));
  EXPECT_FALSE(combo_->SelectItem(-1));
  EXPECT_EQ(combo_->GetCurSel(), 2);
  EXPECT_EQ(combo_->GetText(), L"Other");
  EXPECT_EQ(combo_->GetListBox()->GetCurSel(), 2);
  EXPECT_TRUE(events_.empty());

  // Removing an item before the selection keeps the same item selected.
  ui::Control* first = combo_->GetListBox()->GetItemAt(0);
  EXPECT_TRUE(combo_->Remove(first));
  delete first;
  EXPECT_EQ(combo_->GetCurSel(), 1);
  EXPECT_EQ(combo_->GetText(), L"Other");
  // Removed items are the caller's again.
  std::vector<ui::Control*> rest = {combo_->GetListBox()->GetItemAt(0),
                                    combo_->GetListBox()->GetItemAt(1)};
  combo_->RemoveAll();
  EXPECT_EQ(combo_->GetCurSel(), -1);
  EXPECT_EQ(combo_->GetCount(), 0u);
  for (ui::Control* item : rest) delete item;
}

}  // namespace

namespace {

TEST_F(ComboTest, KeyboardMovesChoosesAndCancels) {
  ASSERT_TRUE(combo_->SelectItem(0));
  Open();
  ASSERT_NE(combo_->GetPopup(), nullptr);
  HWND popup = combo_->GetPopup()->GetHWND();
  combo_->GetListBox()->GetItemAt(1)->SetEnabled(false);
  events_.clear();
  auto key = [&](UINT vk) { ::SendMessageW(popup, WM_KEYDOWN, vk, 1); };

  // Down skips the disabled item and stops at the end; Escape drops the highlight.
  key(VK_DOWN);
  EXPECT_EQ(combo_->GetListBox()->GetCurSel(), 2);
  key(VK_DOWN);
  EXPECT_EQ(combo_->GetListBox()->GetCurSel(), 2);
  key(VK_ESCAPE);
  ASSERT_TRUE(Closed());
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(combo_->GetCurSel(), 0);
  EXPECT_EQ(combo_->GetListBox()->GetCurSel(), 0);

  // Return chooses the highlighted item like a click does.
  Open();
  ASSERT_NE(combo_->GetPopup(), nullptr);
  popup = combo_->GetPopup()->GetHWND();
  events_.clear();
  key(VK_DOWN);
  key(VK_UP);
  key(VK_DOWN);
  key(VK_RETURN);
  EXPECT_EQ(events_, std::vector<int>{2});
  EXPECT_EQ(combo_->GetText(), L"Other");
  ASSERT_TRUE(Closed());
}

}  // namespace

namespace {

TEST_F(ComboTest, ALongListScrollsAndKeepsTheHighlightInView) {
  for (const wchar_t* text : {L"Four", L"Five", L"Six", L"Seven", L"Eight"}) {
    auto* item = new ui::ListContainerElement();
    item->SetAttribute(L"height", L"28");
    item->SetText(text);
    combo_->Add(item);
  }
  ASSERT_TRUE(combo_->SelectItem(0));
  const RECT popup = Open();
  ASSERT_NE(combo_->GetPopup(), nullptr);
  EXPECT_EQ(popup.bottom - popup.top, 150) << "the drop height, not the items' 226";
  ui::ListBox* list = combo_->GetListBox();
  ASSERT_TRUE(Pump([&] { return list->GetPos().bottom > 0; }));
  EXPECT_TRUE(list->IsVScrollBarShown());
  EXPECT_EQ(list->GetScrollRange(), 8 * 28 - (150 - 2));
  // The items leave room for the bar.
  EXPECT_LE(list->GetItemAt(0)->GetPos().right, list->GetVScrollTrack().left);

  // The highlight moved to the last item brings it into view.
  HWND hwnd = combo_->GetPopup()->GetHWND();
  for (int i = 0; i < 7; ++i) ::SendMessageW(hwnd, WM_KEYDOWN, VK_DOWN, 1);
  EXPECT_EQ(list->GetCurSel(), 7);
  const RECT inner = list->GetPaddingPos();
  EXPECT_EQ(list->GetItemAt(7)->GetPos().bottom, inner.bottom);
  EXPECT_EQ(list->GetScrollPos(), list->GetScrollRange());
  const RECT thumb = list->GetVScrollThumb();
  EXPECT_EQ(thumb.bottom, list->GetVScrollTrack().bottom);

  // The wheel over an item scrolls back to the top; a press on the track pages down.
  const RECT& first_visible = list->GetItemAt(7)->GetPos();
  POINT over = {(first_visible.left + first_visible.right) / 2, first_visible.top + 4};
  ::ClientToScreen(hwnd, &over);
  ::SendMessageW(hwnd, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA * 3), MAKELPARAM(over.x, over.y));
  EXPECT_EQ(list->GetScrollPos(), 0);
  const RECT track = list->GetVScrollTrack();
  Click(hwnd, {track.left, track.bottom - 10, track.right, track.bottom - 2});
  EXPECT_GT(list->GetScrollPos(), 0);
  ::SendMessageW(hwnd, WM_KEYDOWN, VK_ESCAPE, 1);
  ASSERT_TRUE(Closed());
  EXPECT_EQ(combo_->GetCurSel(), 0);
}

}  // namespace
