// The keyboard path through a window and what a screen reader reads of it, in this process.
#include <gtest/gtest.h>

#include <oleacc.h>

#include "tests/ui/UiTestSupport.h"

#include <functional>
#include <string>
#include <vector>

#include "base/UniqueResource.h"
#include "ui/controls/CheckBox.h"
#include "ui/controls/Combo.h"
#include "ui/controls/ComboWnd.h"
#include "ui/controls/ListContainerElement.h"
#include "ui/controls/Progress.h"
#include "ui/controls/RichEdit.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/WindowImplBase.h"
#include "ui/render/RenderContext.h"

namespace {

// Reading order: go, link, check, combo, field, the hidden and the disabled button (never
// stops), then the default button; the labels are text only.
const wchar_t kSkin[] =
    L"<Window size=\"320,240\" shadowattached=\"false\">"
    L"<VBox name=\"root\" bkcolor=\"kb_paper\">"
    L"<HBox height=\"40\"><Label name=\"title\" text=\"Welcome\" width=\"80\" height=\"30\"/>"
    L"<Button name=\"go\" text=\"Go\" width=\"60\" height=\"30\" margin=\"10,5,0,0\"/>"
    L"<Button name=\"link\" text=\"Terms\" role=\"link\" width=\"60\" height=\"30\" "
    L"margin=\"10,5,0,0\"/></HBox>"
    L"<HBox height=\"40\"><CheckBox name=\"check\" text=\"Custom\" width=\"80\" height=\"30\" "
    L"margin=\"10,5,0,0\"/>"
    L"<Label name=\"lang_label\" text=\"Language\" width=\"60\" height=\"30\"/>"
    L"<Combo name=\"combo\" width=\"100\" height=\"30\"/></HBox>"
    L"<HBox height=\"40\"><Label name=\"path_label\" text=\"Folder\" width=\"60\" height=\"30\"/>"
    L"<HBox width=\"150\" height=\"30\"><RichEdit name=\"field\" wanttab=\"false\" "
    L"wantreturnmsg=\"true\"/></HBox></HBox>"
    L"<HBox height=\"40\"><Button name=\"hidden\" text=\"Hidden\" width=\"60\" height=\"30\" "
    L"visible=\"false\"/><Button name=\"off\" text=\"Off\" width=\"60\" height=\"30\" "
    L"enabled=\"false\"/><Progress name=\"bar\" width=\"100\" height=\"10\" min=\"0\" "
    L"max=\"200\"/></HBox>"
    L"<Button name=\"main\" text=\"Main\" default=\"true\" width=\"80\" height=\"30\" "
    L"margin=\"100,10,0,0\"/>"
    L"</VBox></Window>";

class KeyWindow : public ui::WindowImplBase {
 public:
  std::wstring GetSkinFile() override { return kSkin; }
  std::wstring GetSkinFolder() override { return L""; }
  int escapes_ = 0;

 protected:
  std::wstring GetWindowClassName() const override { return L"UiTestKeyWindow"; }
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
    // Counted and kept: the test window stays open for the next step.
    if (message == WM_SYSCOMMAND && (wparam & 0xFFF0) == SC_CLOSE) {
      ++escapes_;
      return 0;
    }
    return ui::WindowImplBase::HandleMessage(message, wparam, lparam);
  }
};

class KeyboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_test::AddTextColors({{L"kb_paper", L"#FFFFFFFF"}, {L"kb_mark", L"#FFFF00FF"}});
    ui::GlobalManager::Instance().SetFocusColor(L"kb_mark");
    hwnd_ = ui_test::OpenPopup(window_, L"keys", {60, 60, 380, 300}, false);
    ASSERT_NE(hwnd_, nullptr);
    ::UpdateWindow(hwnd_);
    ASSERT_TRUE(Pump([&] { return Find(L"main")->GetPos().right > 0; }));
    combo_ = static_cast<ui::Combo*>(Find(L"combo"));
    for (const wchar_t* text : {L"English", L"Deutsch"}) {
      auto* item = new ui::ListContainerElement();
      item->SetAttribute(L"height", L"28");
      item->SetText(text);
      combo_->Add(item);
    }
    combo_->SelectItem(0);
    for (const wchar_t* name : {L"go", L"link", L"main"}) {
      Find(name)->AttachEvent(ui::kEventClick, [this, name](ui::EventArgs&) {
        clicks_.push_back(name);
        return true;
      });
    }
    combo_->AttachEvent(ui::kEventSelect, [this](ui::EventArgs& args) {
      selects_.push_back(static_cast<int>(args.wparam));
      return true;
    });
  }
  void TearDown() override {
    SetShift(false);
    ui::GlobalManager::Instance().SetFocusColor(L"");
    if (::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
  }

  bool Pump(const std::function<bool()>& done, DWORD timeout_ms = 3000) {
    return ui_test::PumpUntil(done, timeout_ms);
  }
  ui::Control* Find(const wchar_t* name) {
    ui::Control* control = window_.FindControl(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  std::wstring FocusName() {
    return window_.GetFocus() ? window_.GetFocus()->GetName() : std::wstring(L"(none)");
  }
  // A key as the system delivers it, with its character where it makes one.
  void Key(UINT vk, bool alt = false, LPARAM flags = 0) {
    ::SendMessageW(hwnd_, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, 1 | flags | (alt ? 1 << 29 : 0));
    const wchar_t ch = vk == VK_TAB      ? L'\t'
                       : vk == VK_RETURN ? L'\r'
                       : vk == VK_SPACE  ? L' '
                       : vk == VK_ESCAPE ? 0x1B
                                         : 0;
    if (ch && !alt) ::SendMessageW(hwnd_, WM_CHAR, ch, 1);
    ::SendMessageW(hwnd_, alt ? WM_SYSKEYUP : WM_KEYUP, vk, 0xC0000001);
  }
  static void SetShift(bool down) {
    BYTE state[256] = {};
    ::GetKeyboardState(state);
    state[VK_SHIFT] = down ? 0x80 : 0;
    ::SetKeyboardState(state);
  }
  std::vector<std::wstring> TabThrough(int count, bool backward) {
    SetShift(backward);
    std::vector<std::wstring> names;
    for (int i = 0; i < count; ++i) {
      Key(VK_TAB);
      names.push_back(FocusName());
    }
    SetShift(false);
    return names;
  }
  // Pixels of the focus mark's top edge, painted in the mark's color (full repaint first).
  int MarkPixels(const wchar_t* name) {
    ::InvalidateRect(hwnd_, nullptr, FALSE);
    ::UpdateWindow(hwnd_);
    ui::IRenderContext* context = window_.GetRenderContext();
    ::GdiFlush();
    const RECT mark = window_.GetFocusMarkRect(Find(name));
    int count = 0;
    for (LONG x = mark.left + 4; x < mark.right - 4; ++x) {
      const BYTE* p =
          context->GetBits() + (static_cast<size_t>(mark.top) * context->GetWidth() + x) * 4;
      if (p[2] == 0xFF && p[1] == 0x00 && p[0] == 0xFF) ++count;
    }
    return count;
  }

  KeyWindow window_;
  HWND hwnd_ = nullptr;
  ui::Combo* combo_ = nullptr;
  std::vector<std::wstring> clicks_;
  std::vector<int> selects_;
};

TEST_F(KeyboardTest, TabWalksTheInputsInReadingOrderBothWaysAndWraps) {
  EXPECT_EQ(TabThrough(7, false), (std::vector<std::wstring>{L"go", L"link", L"check", L"combo",
                                                             L"field", L"main", L"go"}));
  EXPECT_EQ(TabThrough(3, true), (std::vector<std::wstring>{L"main", L"field", L"combo"}));
  // A control that is shown again becomes a stop; a clicked box marks the place to go on from.
  Find(L"hidden")->SetVisible(true);
  window_.SetFocusControl(Find(L"field"));
  EXPECT_EQ(TabThrough(1, false), std::vector<std::wstring>{L"hidden"});
  window_.SetFocusControl(Find(L"root"));
  EXPECT_EQ(TabThrough(1, false), std::vector<std::wstring>{L"go"});
  // Tab's character never reaches the field it lands on.
  auto* field = static_cast<ui::RichEdit*>(Find(L"field"));
  window_.SetFocusControl(Find(L"combo"));
  Key(VK_TAB);
  EXPECT_EQ(FocusName(), L"field");
  EXPECT_EQ(field->GetText(), L"");
}

TEST_F(KeyboardTest, SpaceAndReturnPressTheFocusedOrTheDefaultButton) {
  auto* check = static_cast<ui::CheckBox*>(Find(L"check"));
  window_.SetFocusControl(check);
  Key(VK_SPACE);
  EXPECT_TRUE(check->IsSelected());
  Key(VK_SPACE, false, 1 << 30);  // the key's auto-repeat is not a second press
  EXPECT_TRUE(check->IsSelected());
  Key(VK_RETURN);
  EXPECT_FALSE(check->IsSelected());
  EXPECT_TRUE(clicks_.empty());

  window_.SetFocusControl(Find(L"go"));
  Key(VK_RETURN);
  Key(VK_SPACE);
  EXPECT_EQ(clicks_, (std::vector<std::wstring>{L"go", L"go"}));
  clicks_.clear();

  // No focus, or a control that does not take Return (the field reports it first): the
  // default button. Hidden, it is pressed no more.
  window_.SetFocusControl(nullptr);
  Key(VK_RETURN);
  int returns = 0;
  Find(L"field")->AttachEvent(ui::kEventReturn, [&](ui::EventArgs&) { return ++returns > 0; });
  window_.SetFocusControl(Find(L"field"));
  Key(VK_RETURN);
  EXPECT_EQ(returns, 1);
  window_.SetFocusControl(combo_);
  Key(VK_RETURN);
  EXPECT_EQ(clicks_, (std::vector<std::wstring>{L"main", L"main", L"main"}));
  Find(L"main")->SetVisible(false);
  Key(VK_RETURN);
  EXPECT_EQ(clicks_.size(), 3u);

  // Escape is the system's close command, as Alt+F4 is.
  Key(VK_ESCAPE);
  EXPECT_TRUE(Pump([&] { return window_.escapes_ == 1; }));
}

TEST_F(KeyboardTest, ComboChoosesWithArrowsAndOpensWithF4OrAltDown) {
  window_.SetFocusControl(combo_);
  Key(VK_DOWN);
  EXPECT_EQ(combo_->GetCurSel(), 1);
  Key(VK_DOWN);  // the end does not wrap
  Key(VK_UP);
  EXPECT_EQ(combo_->GetCurSel(), 0);
  EXPECT_EQ(selects_, (std::vector<int>{1, 0}));

  Key(VK_F4);
  ASSERT_NE(combo_->GetPopup(), nullptr);
  ::SendMessageW(combo_->GetPopup()->GetHWND(), WM_KEYDOWN, VK_ESCAPE, 1);
  ASSERT_TRUE(Pump([&] { return combo_->GetPopup() == nullptr; }, 5000));
  Key(VK_DOWN, true);
  ASSERT_NE(combo_->GetPopup(), nullptr);
  HWND popup = combo_->GetPopup()->GetHWND();
  ::SendMessageW(popup, WM_KEYDOWN, VK_DOWN, 1);
  ::SendMessageW(popup, WM_KEYDOWN, VK_RETURN, 1);
  EXPECT_EQ(combo_->GetText(), L"Deutsch");
  ASSERT_TRUE(Pump([&] { return combo_->GetPopup() == nullptr; }, 5000));
  EXPECT_EQ(selects_, (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(FocusName(), L"combo");

  // Alt+F4 on the combo is still the system's close command.
  BYTE state[256] = {};
  ::GetKeyboardState(state);
  state[VK_MENU] = 0x80;
  ::SetKeyboardState(state);
  Key(VK_F4, true);
  state[VK_MENU] = 0;
  ::SetKeyboardState(state);
  EXPECT_EQ(combo_->GetPopup(), nullptr);
  EXPECT_TRUE(Pump([&] { return window_.escapes_ == 1; }));
}

TEST_F(KeyboardTest, FocusMarkShowsAfterTabAndGoesWithAClick) {
  Key(VK_TAB);
  ASSERT_EQ(FocusName(), L"go");
  EXPECT_TRUE(window_.IsFocusMarkShown());
  EXPECT_GT(MarkPixels(L"go"), 20);
  Key(VK_TAB);
  EXPECT_EQ(MarkPixels(L"go"), 0) << "the old mark is painted over";
  EXPECT_GT(MarkPixels(L"link"), 20);

  const RECT& check = Find(L"check")->GetPos();
  const LPARAM at = MAKELPARAM((check.left + check.right) / 2, (check.top + check.bottom) / 2);
  ::SendMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(hwnd_, WM_LBUTTONUP, 0, at);
  EXPECT_FALSE(window_.IsFocusMarkShown());
  EXPECT_EQ(MarkPixels(L"check"), 0);
  EXPECT_EQ(MarkPixels(L"link"), 0);
}

// --- Screen readers, through the system's accessibility library --------------------------------

struct WinEvent {
  DWORD event;
  LONG child;
};
std::vector<WinEvent>* g_events = nullptr;
HWND g_events_hwnd = nullptr;

void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD,
                          DWORD) {
  if (g_events && hwnd == g_events_hwnd && object == OBJID_CLIENT) {
    g_events->push_back({event, child});
  }
}

class AccessibleTest : public KeyboardTest {
 protected:
  void SetUp() override {
    KeyboardTest::SetUp();
    ASSERT_HRESULT_SUCCEEDED(::AccessibleObjectFromWindow(hwnd_, static_cast<DWORD>(OBJID_CLIENT),
                                                          IID_IAccessible, acc_.put_void()));
  }
  // The child id of the control named `name`, found by walking the children as a reader does.
  LONG IdOf(const std::wstring& name, LONG role) {
    LONG count = 0;
    acc_->get_accChildCount(&count);
    for (LONG id = 1; id <= count; ++id) {
      if (Name(id) == name && Role(id) == role) return id;
    }
    return 0;
  }
  static VARIANT Child(LONG id) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
  }
  std::wstring Text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), LONG id) {
    BSTR text = nullptr;
    (acc_.get()->*get)(Child(id), &text);
    std::wstring out = text ? text : L"";
    ::SysFreeString(text);
    return out;
  }
  std::wstring Name(LONG id) { return Text(&IAccessible::get_accName, id); }
  std::wstring Value(LONG id) { return Text(&IAccessible::get_accValue, id); }
  LONG Role(LONG id) {
    VARIANT role;
    acc_->get_accRole(Child(id), &role);
    return role.vt == VT_I4 ? role.lVal : -1;
  }
  LONG State(LONG id) {
    VARIANT state;
    acc_->get_accState(Child(id), &state);
    return state.vt == VT_I4 ? state.lVal : -1;
  }

  nbase::ComPtr<IAccessible> acc_;
};

TEST_F(AccessibleTest, ReadsRolesNamesStatesValuesAndPlaces) {
  const LONG go = IdOf(L"Go", ROLE_SYSTEM_PUSHBUTTON);
  const LONG link = IdOf(L"Terms", ROLE_SYSTEM_LINK);
  const LONG check = IdOf(L"Custom", ROLE_SYSTEM_CHECKBUTTON);
  const LONG combo = IdOf(L"Language", ROLE_SYSTEM_COMBOBOX);  // named by its label
  const LONG field = IdOf(L"Folder", ROLE_SYSTEM_TEXT);
  const LONG bar = IdOf(L"", ROLE_SYSTEM_PROGRESSBAR);
  const LONG title = IdOf(L"Welcome", ROLE_SYSTEM_STATICTEXT);
  for (LONG id : {go, link, check, combo, field, bar, title}) ASSERT_GT(id, 0);

  EXPECT_EQ(State(go) & (STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED), STATE_SYSTEM_FOCUSABLE);
  EXPECT_EQ(State(check) & STATE_SYSTEM_CHECKED, 0);
  static_cast<ui::CheckBox*>(Find(L"check"))->Selected(true, false);
  EXPECT_NE(State(check) & STATE_SYSTEM_CHECKED, 0);
  EXPECT_NE(State(IdOf(L"Off", ROLE_SYSTEM_PUSHBUTTON)) & STATE_SYSTEM_UNAVAILABLE, 0);
  EXPECT_NE(State(IdOf(L"Hidden", ROLE_SYSTEM_PUSHBUTTON)) & STATE_SYSTEM_INVISIBLE, 0);
  EXPECT_NE(State(IdOf(L"Main", ROLE_SYSTEM_PUSHBUTTON)) & STATE_SYSTEM_DEFAULT, 0);
  window_.SetFocusControl(Find(L"go"));
  EXPECT_NE(State(go) & STATE_SYSTEM_FOCUSED, 0);
  VARIANT focused;
  ASSERT_EQ(acc_->get_accFocus(&focused), S_OK);
  EXPECT_EQ(focused.lVal, go);

  EXPECT_EQ(Value(combo), L"English");
  static_cast<ui::Progress*>(Find(L"bar"))->SetValue(50);
  EXPECT_EQ(Value(bar), L"25%");
  static_cast<ui::RichEdit*>(Find(L"field"))->SetText(L"C:\\Apps");
  EXPECT_EQ(Value(field), L"C:\\Apps");

  // Where it is on the screen, and what is under a point there.
  LONG left = 0, top = 0, width = 0, height = 0;
  ASSERT_HRESULT_SUCCEEDED(acc_->accLocation(&left, &top, &width, &height, Child(go)));
  RECT expected = Find(L"go")->GetPos();
  ::MapWindowPoints(hwnd_, HWND_DESKTOP, reinterpret_cast<POINT*>(&expected), 2);
  EXPECT_EQ(left, expected.left);
  EXPECT_EQ(top, expected.top);
  EXPECT_EQ(width, 60);
  EXPECT_EQ(height, 30);
  VARIANT hit;
  ASSERT_EQ(acc_->accHitTest(left + 5, top + 5, &hit), S_OK);
  EXPECT_EQ(hit.lVal, go);

  // Navigation moves over what shows only.
  VARIANT next;
  ASSERT_EQ(acc_->accNavigate(NAVDIR_NEXT, Child(IdOf(L"Folder", ROLE_SYSTEM_TEXT)), &next), S_OK);
  EXPECT_EQ(next.lVal, IdOf(L"Off", ROLE_SYSTEM_PUSHBUTTON));
}

TEST_F(AccessibleTest, DefaultActionsPressAndEventsNameTheChild) {
  std::vector<WinEvent> events;
  g_events = &events;
  g_events_hwnd = hwnd_;
  HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_VALUECHANGE, nullptr,
                                         &RecordEvent, 0, 0, WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(hook, nullptr);
  auto seen = [&](DWORD event, LONG child) {
    return Pump([&] {
      for (const WinEvent& e : events) {
        if (e.event == event && e.child == child) return true;
      }
      return false;
    });
  };

  const LONG go = IdOf(L"Go", ROLE_SYSTEM_PUSHBUTTON);
  const LONG check = IdOf(L"Custom", ROLE_SYSTEM_CHECKBUTTON);
  ASSERT_HRESULT_SUCCEEDED(acc_->accDoDefaultAction(Child(go)));
  EXPECT_TRUE(Pump([&] { return clicks_ == std::vector<std::wstring>{L"go"}; }));
  ASSERT_HRESULT_SUCCEEDED(acc_->accDoDefaultAction(Child(check)));
  EXPECT_TRUE(Pump([&] { return (State(check) & STATE_SYSTEM_CHECKED) != 0; }));
  EXPECT_TRUE(seen(EVENT_OBJECT_STATECHANGE, check));
  EXPECT_EQ(acc_->accDoDefaultAction(Child(IdOf(L"Welcome", ROLE_SYSTEM_STATICTEXT))),
            DISP_E_MEMBERNOTFOUND);

  Key(VK_TAB);
  EXPECT_TRUE(seen(EVENT_OBJECT_FOCUS, go));
  ASSERT_HRESULT_SUCCEEDED(acc_->accSelect(SELFLAG_TAKEFOCUS, Child(check)));
  EXPECT_EQ(FocusName(), L"check");
  EXPECT_TRUE(seen(EVENT_OBJECT_FOCUS, check));
  static_cast<ui::Progress*>(Find(L"bar"))->SetValue(100);
  EXPECT_TRUE(seen(EVENT_OBJECT_VALUECHANGE, IdOf(L"", ROLE_SYSTEM_PROGRESSBAR)));
  static_cast<ui::LabelTemplate<ui::Control>*>(Find(L"title"))->SetText(L"Hello");
  EXPECT_TRUE(seen(EVENT_OBJECT_NAMECHANGE, IdOf(L"Hello", ROLE_SYSTEM_STATICTEXT)));

  ::UnhookWinEvent(hook);
  g_events = nullptr;

  // Once the window is gone, a reader still holding the object gets errors, not a crash.
  ::DestroyWindow(hwnd_);
  LONG count = 0;
  EXPECT_TRUE(FAILED(acc_->get_accChildCount(&count)));
}

}  // namespace
