// The rich edit field in a real window: typing, change events, the prompt and Return.
#include <gtest/gtest.h>

#include "tests/ui/UiTestSupport.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "ui/controls/RichEdit.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/WindowImplBase.h"
#include "ui/render/RenderContext.h"

namespace {

const wchar_t kSkin[] =
    L"<Window size=\"240,120\" shadowattached=\"false\">"
    L"<VBox name=\"root\" bkcolor=\"test_paper\">"
    L"<RichEdit name=\"path\" height=\"28\" padding=\"6,6,6,0\" promptcolor=\"test_prompt\" "
    L"prompttext=\"WWWWWWWW\" wantreturnmsg=\"true\" caretcolor=\"test_caret\"/>"
    L"<RichEdit name=\"notes\" height=\"60\"/>"
    L"</VBox></Window>";

class EditWindow : public ui::WindowImplBase {
 public:
  std::wstring GetSkinFile() override { return kSkin; }
  std::wstring GetSkinFolder() override { return L""; }

 protected:
  std::wstring GetWindowClassName() const override { return L"UiTestEditWindow"; }
};

class RichEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_test::AddTextColors({{L"test_paper", L"#FFFFFFFF"},
                            {L"test_prompt", L"#FFFF0000"},
                            {L"test_caret", L"#FF00FF00"}});
    // Plain window: it is painted on request, so a paint can be forced with UpdateWindow.
    hwnd_ = ui_test::OpenPopup(window_, L"edit", {40, 40, 280, 160}, false);
    ASSERT_NE(hwnd_, nullptr);
    ::UpdateWindow(hwnd_);
    path_ = static_cast<ui::RichEdit*>(window_.FindControl(L"path"));
    notes_ = static_cast<ui::RichEdit*>(window_.FindControl(L"notes"));
    ASSERT_NE(path_, nullptr);
    ASSERT_NE(notes_, nullptr);
    ASSERT_TRUE(Pump([&] { return path_->GetPos().right > 0; }));
    ASSERT_TRUE(path_->HasTextServices()) << "no windowless text services on this system";
    path_->AttachEvent(ui::kEventTextChange, [&](ui::EventArgs&) {
      ++changes_;
      return true;
    });
    path_->AttachEvent(ui::kEventReturn, [&](ui::EventArgs&) {
      ++returns_;
      return true;
    });
  }
  void TearDown() override {
    BYTE keys[256] = {};
    ::SetKeyboardState(keys);
    if (::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
  }

  // Runs the message loop until `done`, failing after two seconds instead of hanging.
  bool Pump(const std::function<bool()>& done) { return ui_test::PumpUntil(done, 2000); }
  void ClickInto(ui::Control* control) {
    const RECT& r = control->GetPos();
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    ::SendMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(hwnd_, WM_LBUTTONUP, 0, at);
  }
  // What the keyboard and TranslateMessage deliver for one key with a character.
  void Key(UINT vk, wchar_t ch) {
    ::SendMessageW(hwnd_, WM_KEYDOWN, vk, 1);
    if (ch) ::SendMessageW(hwnd_, WM_CHAR, ch, 1);
    ::SendMessageW(hwnd_, WM_KEYUP, vk, 0xC0000001);
  }
  void Type(const wchar_t* text) {
    for (const wchar_t* at = text; *at; ++at) {
      Key(static_cast<UINT>(::VkKeyScanW(*at) & 0xFF), *at);
    }
  }
  // The thread's key state, which is what the field reads for Shift and Ctrl.
  void Hold(int vk, bool held) {
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[vk] = held ? 0x80 : 0;
    ::SetKeyboardState(keys);
  }
  int PromptPixels() { return PixelsOf(path_, 2); }
  // Pixels of the control painted pure red (channel 2) or pure green (channel 1).
  int PixelsOf(ui::Control* control, int channel) {
    ::InvalidateRect(hwnd_, nullptr, FALSE);
    ::UpdateWindow(hwnd_);
    ::GdiFlush();
    ui::IRenderContext* context = window_.GetRenderContext();
    const BYTE* bits = context->GetBits();
    const RECT& r = control->GetPos();
    int count = 0;
    for (LONG y = r.top; y < r.bottom; ++y) {
      for (LONG x = r.left; x < r.right; ++x) {
        const BYTE* p = bits + (static_cast<size_t>(y) * context->GetWidth() + x) * 4;
        if (p[channel] > 200 && p[3 - channel] < 80 && p[0] < 80) ++count;
      }
    }
    return count;
  }

  EditWindow window_;
  HWND hwnd_ = nullptr;
  ui::RichEdit* path_ = nullptr;
  ui::RichEdit* notes_ = nullptr;
  int changes_ = 0;
  int returns_ = 0;
};

TEST_F(RichEditTest, TypedCharactersReachTheTextWithOneChangeEach) {
  ClickInto(path_);
  ASSERT_EQ(window_.GetFocus(), path_);
  Type(L"C:\\x");
  EXPECT_EQ(path_->GetText(), L"C:\\x");
  EXPECT_EQ(changes_, 4);
  Key(VK_BACK, L'\b');
  EXPECT_EQ(path_->GetText(), L"C:\\");
  EXPECT_EQ(changes_, 5);
  EXPECT_GT(PixelsOf(path_, 1), 0);  // the caret, drawn by the field itself

  // Keys go to the focused field only.
  ClickInto(notes_);
  Type(L"n");
  EXPECT_EQ(path_->GetText(), L"C:\\");
  EXPECT_EQ(notes_->GetText(), L"n");
  EXPECT_EQ(PixelsOf(path_, 1), 0);

  path_->SetText(L"D:\\Games");
  EXPECT_EQ(path_->GetText(), L"D:\\Games");
}

TEST_F(RichEditTest, PromptShowsOnlyWhileEmptyInItsColour) {
  EXPECT_GT(PromptPixels(), 20);
  path_->SetText(L"abc");
  EXPECT_EQ(PromptPixels(), 0);
  path_->SetText(L"");
  EXPECT_GT(PromptPixels(), 20);

  // Without a prompt colour nothing is drawn, whatever "promptmode" says.
  path_->SetAttribute(L"promptmode", L"true");
  path_->SetAttribute(L"promptcolor", L"");
  EXPECT_EQ(PromptPixels(), 0);
}

TEST_F(RichEditTest, ReturnIsAMessageOnlyWithoutCtrl) {
  ClickInto(path_);
  Type(L"ab");
  const int typed = changes_;
  Key(VK_RETURN, L'\r');
  EXPECT_EQ(returns_, 1);
  EXPECT_EQ(path_->GetText(), L"ab");
  EXPECT_EQ(changes_, typed);

  // Shift+Return goes to the text services, which break the line within the paragraph.
  Hold(VK_SHIFT, true);
  Key(VK_RETURN, L'\r');
  Hold(VK_SHIFT, false);
  EXPECT_EQ(returns_, 1);
  EXPECT_EQ(path_->GetText().size(), 3u);
  EXPECT_EQ(changes_, typed + 1);

  // Ctrl+Return is not asked for, so it makes a new line.
  Hold(VK_CONTROL, true);
  Key(VK_RETURN, L'\n');
  Hold(VK_CONTROL, false);
  EXPECT_EQ(returns_, 1);
  EXPECT_EQ(path_->GetText().substr(3), L"\r");

  // A field that does not want the message takes Return as text.
  ClickInto(notes_);
  Key(VK_RETURN, L'\r');
  EXPECT_EQ(returns_, 1);
  EXPECT_EQ(notes_->GetText(), L"\r");
}

}  // namespace

namespace {

TEST_F(RichEditTest, CaretBlinksOnlyWhileFocused) {
  ClickInto(path_);
  ASSERT_TRUE(path_->IsCaretBlinking());
  EXPECT_TRUE(path_->IsCaretShown());  // a caret that was just placed is seen at once
  int toggles = 0;
  bool last = path_->IsCaretShown();
  EXPECT_TRUE(ui_test::PumpUntil(
      [&] {
        if (path_->IsCaretShown() != last) {
          last = !last;
          ++toggles;
        }
        return toggles >= 2;
      },
      3000));

  ClickInto(notes_);
  EXPECT_FALSE(path_->IsCaretBlinking());
  EXPECT_FALSE(path_->IsCaretShown());
  EXPECT_EQ(PixelsOf(path_, 1), 0);
}

TEST_F(RichEditTest, VerticalAlignmentMovesTheTextDown) {
  notes_->SetText(L"one line");
  const RECT box = notes_->GetPos();
  auto offset_for = [&](const wchar_t* align) {
    notes_->SetAttribute(L"align", align);
    notes_->SetPos(box);
    return notes_->GetTextRect().top - box.top;
  };
  const LONG top = offset_for(L"top");
  const LONG center = offset_for(L"vcenter");
  const LONG bottom = offset_for(L"bottom");
  EXPECT_EQ(top, 0);
  EXPECT_GT(center, 10);
  EXPECT_NEAR(bottom, 2 * center, 2);

  // More lines leave less room: the text moves back up as it grows.
  notes_->SetText(L"one\rtwo\rthree");
  EXPECT_LT(notes_->GetTextRect().top - box.top, bottom);
}

}  // namespace

namespace {

TEST_F(RichEditTest, PressOnALinkRangeSendsItsEventInsteadOfEditing) {
  std::vector<WPARAM> links;
  notes_->AttachEvent(ui::kEventCustomLinkClick, [&](ui::EventArgs& args) {
    links.push_back(args.wparam);
    return true;
  });
  notes_->SetText(L"read the terms now");
  notes_->AddLinkRange(0, 4);
  notes_->AddLinkRange(9, 14);  // "terms"
  auto press_at = [&](LONG index) {
    const POINT at = notes_->PosFromChar(index);
    const LPARAM where = MAKELPARAM(at.x + 2, at.y + 4);
    ::SendMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, where);
    ::SendMessageW(hwnd_, WM_LBUTTONUP, 0, where);
  };
  press_at(11);
  press_at(6);  // "the" is plain text
  press_at(1);
  EXPECT_EQ(links, (std::vector<WPARAM>{1, 0}));

  // New text has no links until they are given again.
  notes_->SetText(L"read the terms now");
  press_at(11);
  EXPECT_EQ(links.size(), 2u);
}

}  // namespace

namespace {

TEST_F(RichEditTest, VerticalScrollBarShowsForTallTextAndScrollsIt) {
  notes_->SetAttribute(L"vscrollbar", L"true");
  notes_->SetText(L"one");
  EXPECT_FALSE(notes_->IsVScrollBarShown());
  const LONG full_width = notes_->GetTextRect().right - notes_->GetTextRect().left;

  notes_->SetText(L"1\r2\r3\r4\r5\r6\r7\r8\r9\r10\r11\r12");
  ASSERT_TRUE(notes_->IsVScrollBarShown());
  EXPECT_LT(notes_->GetTextRect().right - notes_->GetTextRect().left, full_width);
  EXPECT_EQ(notes_->GetScrollOffset(), 0);

  // The wheel scrolls down, and back up to the top.
  const RECT& r = notes_->GetPos();
  const LPARAM inside_screen = [&] {
    POINT at = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ::ClientToScreen(hwnd_, &at);
    return MAKELPARAM(at.x, at.y);
  }();
  ::SendMessageW(hwnd_, WM_MOUSEWHEEL, MAKEWPARAM(0, -WHEEL_DELTA), inside_screen);
  const int scrolled = notes_->GetScrollOffset();
  EXPECT_GT(scrolled, 0);
  ::SendMessageW(hwnd_, WM_MOUSEWHEEL, MAKEWPARAM(0, 2 * WHEEL_DELTA), inside_screen);
  EXPECT_EQ(notes_->GetScrollOffset(), 0);

  // Dragging the bar's thumb to the bottom of its track shows the last line.
  const LONG bar_x = notes_->GetTextRect().right + 3;
  ::SendMessageW(hwnd_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(bar_x, r.top + 2));
  ::SendMessageW(hwnd_, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(bar_x, r.bottom + 40));
  ::SendMessageW(hwnd_, WM_LBUTTONUP, 0, MAKELPARAM(bar_x, r.bottom + 40));
  EXPECT_GT(notes_->GetScrollOffset(), scrolled);
  EXPECT_TRUE(notes_->GetText().empty() == false);
  EXPECT_EQ(notes_->GetText().find(L"1\r2"), 0u);  // dragging the bar did not edit the text

  // Short text again: the bar goes and the text has its width back.
  notes_->SetText(L"one");
  EXPECT_FALSE(notes_->IsVScrollBarShown());
  EXPECT_EQ(notes_->GetTextRect().right - notes_->GetTextRect().left, full_width);
}

}  // namespace

namespace {

// Records the rich edit notifications the window receives.
class NotifiedEditWindow : public EditWindow {
 public:
  std::vector<UINT> codes_;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == WM_NOTIFY) {
      const auto* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->hwndFrom == GetHWND()) codes_.push_back(header->code);
    }
    return EditWindow::HandleMessage(message, wparam, lparam);
  }
};

TEST_F(RichEditTest, IBeamOverTheTextAndTheCompositionWindowAtTheCaret) {
  // The cursor the services choose over the text, the arrow beside it.
  const RECT text = path_->GetTextRect();
  POINT over = {text.left + 4, (text.top + text.bottom) / 2};
  ::ClientToScreen(hwnd_, &over);
  ASSERT_TRUE(::SetCursorPos(over.x, over.y));
  ::SendMessageW(hwnd_, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd_),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_IBEAM));
  path_->SetEnabled(false);
  ::SendMessageW(hwnd_, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd_),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW)) << "a disabled field";
  path_->SetEnabled(true);

  // Composition starts where the caret is, and the field draws no caret meanwhile.
  ClickInto(path_);
  Type(L"abc");
  ASSERT_TRUE(path_->IsCaretShown());
  ::SendMessageW(hwnd_, WM_IME_STARTCOMPOSITION, 0, 0);
  EXPECT_TRUE(path_->IsImeComposing());
  HIMC context = ::ImmGetContext(hwnd_);
  ASSERT_NE(context, nullptr);
  COMPOSITIONFORM form = {};
  ASSERT_TRUE(::ImmGetCompositionWindow(context, &form));
  ::ImmReleaseContext(hwnd_, context);
  const POINT caret = path_->PosFromChar(3);
  EXPECT_EQ(form.dwStyle, static_cast<DWORD>(CFS_POINT));
  EXPECT_NEAR(form.ptCurrentPos.x, caret.x, 2);
  EXPECT_EQ(form.ptCurrentPos.y, caret.y);
  ::SendMessageW(hwnd_, WM_IME_ENDCOMPOSITION, 0, 0);
  EXPECT_FALSE(path_->IsImeComposing());
}

const wchar_t kLinkSkin[] =
    L"<Window size=\"240,120\" shadowattached=\"false\">"
    L"<VBox><RichEdit name=\"notes\" height=\"60\" autourldetect=\"true\"/></VBox></Window>";

class LinkEditWindow : public NotifiedEditWindow {
 public:
  std::wstring GetSkinFile() override { return kLinkSkin; }
};

TEST(RichEditNotifyTest, AClickedLinkReachesTheWindowWithItsText) {
  LinkEditWindow window;
  HWND hwnd = ui_test::OpenPopup(window, L"edit", {40, 40, 280, 160}, false);
  ASSERT_NE(hwnd, nullptr);
  ::UpdateWindow(hwnd);
  auto* notes = static_cast<ui::RichEdit*>(window.FindControl(L"notes"));
  ASSERT_TRUE(ui_test::PumpUntil([&] { return notes->GetPos().right > 0; }, 2000));
  ASSERT_TRUE(notes->HasTextServices());
  notes->SetText(L"see http://example.com/x now");
  // Inside the link, a few characters in.
  const POINT at = notes->PosFromChar(8);
  const LPARAM where = MAKELPARAM(at.x + 2, at.y + 4);
  ::SendMessageW(hwnd, WM_MOUSEMOVE, 0, where);
  ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, where);
  ::SendMessageW(hwnd, WM_LBUTTONUP, 0, where);
  EXPECT_NE(std::find(window.codes_.begin(), window.codes_.end(), static_cast<UINT>(EN_LINK)),
            window.codes_.end());
  EXPECT_EQ(notes->GetLastLinkText(), L"http://example.com/x");
  ::DestroyWindow(hwnd);
}

const wchar_t kPanelSkin[] =
    L"<Window size=\"240,120\" shadowattached=\"false\">"
    L"<VBox bkcolor=\"test_paper\"><Control name=\"top\" height=\"20\"/>"
    L"<VBox name=\"panel\" visible=\"false\">"
    L"<RichEdit name=\"folder\" height=\"28\" text=\"C:\\Target\"/></VBox>"
    L"</VBox></Window>";

class PanelEditWindow : public EditWindow {
 public:
  std::wstring GetSkinFile() override { return kPanelSkin; }
};

// A field in a panel not yet opened leaves the text services for later: the window comes up
// without them, the field reports the text it was given, and opening the panel starts them
// with that text, placed and taking keys.
TEST(RichEditPanelTest, ServicesStartWhenAHiddenFieldIsFirstShown) {
  ui_test::AddTextColors({{L"test_paper", L"#FFFFFFFF"}});
  PanelEditWindow window;
  HWND hwnd = ui_test::OpenPopup(window, L"panel", {40, 40, 280, 160}, false);
  ASSERT_NE(hwnd, nullptr);
  ::UpdateWindow(hwnd);
  ui::Control* top = window.FindControl(L"top");
  ui::Control* panel = window.FindControl(L"panel");
  auto* folder = static_cast<ui::RichEdit*>(window.FindControl(L"folder"));
  ASSERT_TRUE(top && panel && folder);
  ASSERT_TRUE(ui_test::PumpUntil([&] { return top->GetPos().right > 0; }, 2000));
  EXPECT_FALSE(folder->HasTextServices());
  EXPECT_EQ(folder->GetText(), L"C:\\Target");
  folder->SetText(L"D:\\Other");
  EXPECT_EQ(folder->GetText(), L"D:\\Other");
  EXPECT_FALSE(folder->HasTextServices());

  panel->SetVisible(true);
  ASSERT_TRUE(ui_test::PumpUntil([&] { return folder->HasTextServices(); }, 2000))
      << "the field was shown and laid out without starting its text services";
  EXPECT_EQ(folder->GetText(), L"D:\\Other");
  const RECT text = folder->GetTextRect();
  EXPECT_GT(text.right, text.left);
  const RECT& at = folder->GetPos();
  const LPARAM middle = MAKELPARAM((at.left + at.right) / 2, (at.top + at.bottom) / 2);
  ::SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, middle);
  ::SendMessageW(hwnd, WM_LBUTTONUP, 0, middle);
  ::SendMessageW(hwnd, WM_KEYDOWN, VK_END, 1);
  ::SendMessageW(hwnd, WM_CHAR, L'x', 1);
  EXPECT_EQ(folder->GetText(), L"D:\\Otherx");
  ::DestroyWindow(hwnd);
}

}  // namespace
