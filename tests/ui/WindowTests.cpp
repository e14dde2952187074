// A real skinned window: routing of mouse input to controls, title-bar buttons, hit testing.
#include <gtest/gtest.h>

#include "tests/ui/UiTestSupport.h"

#include <functional>
#include <vector>

#include "ui/controls/Option.h"
#include "ui/core/WindowImplBase.h"

namespace {

const wchar_t kSkin[] =
    L"<Window size=\"200,120\" caption=\"0,0,0,120\" shadowattached=\"false\">"
    L"<VBox name=\"root\">"
    L"<HBox name=\"bar\" height=\"30\"><Control/>"
    L"<Button name=\"minbtn\" width=\"30\" height=\"20\"/><Button name=\"closebtn\" width=\"30\" "
    L"height=\"20\"/></HBox>"
    L"<Box name=\"area\" height=\"50\"><Button name=\"inner\" width=\"40\" height=\"40\" "
    L"halign=\"center\" valign=\"center\"/></Box>"
    L"<HBox name=\"row\"><CheckBox name=\"check\" width=\"30\" height=\"20\"/>"
    L"<Option name=\"opt\" group=\"g\" width=\"30\" height=\"20\"/>"
    L"<Button name=\"off\" width=\"30\" height=\"20\" enabled=\"false\"/></HBox>"
    L"</VBox></Window>";

class TestWindow : public ui::WindowImplBase {
 public:
  std::wstring GetSkinFile() override { return kSkin; }
  std::wstring GetSkinFolder() override { return L""; }

 protected:
  std::wstring GetWindowClassName() const override { return L"UiTestWindow"; }
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Plain (not layered): this Wine sends no WM_PAINT to a layered window that was never
    // updated, so the tree would not be laid out here.
    hwnd_ = window_.Create(nullptr, L"test", WS_POPUP | 0x00CE0000, 0, false, {40, 40, 240, 160});
    ASSERT_NE(hwnd_, nullptr);
    EXPECT_EQ(::GetWindowLongW(hwnd_, GWL_STYLE) & WS_CAPTION, 0);
    window_.ShowWindow();
    ::UpdateWindow(hwnd_);
    ASSERT_TRUE(Pump([&] { return Control(L"inner")->GetPos().right > 0; }));
  }
  void TearDown() override {
    if (::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
  }

  // Runs the message loop until `done`, failing after two seconds instead of hanging.
  bool Pump(const std::function<bool()>& done) { return ui_test::PumpUntil(done, 2000); }
  ui::Control* Control(const wchar_t* name) {
    ui::Control* control = window_.FindControl(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  static POINT Center(ui::Control* control) {
    const RECT& r = control->GetPos();
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  void Send(UINT message, POINT point) {
    ::SendMessageW(hwnd_, message, message == WM_MOUSEMOVE ? 0 : MK_LBUTTON,
                   MAKELPARAM(point.x, point.y));
  }
  void Click(ui::Control* control) {
    const POINT point = Center(control);
    Send(WM_MOUSEMOVE, point);
    Send(WM_LBUTTONDOWN, point);
    Send(WM_LBUTTONUP, point);
  }

  TestWindow window_;
  HWND hwnd_ = nullptr;
};

TEST_F(WindowTest, MouseRoutingAndControlEvents) {
  // Moving from a box onto its own button is not leaving the box.
  ui::Control* area = Control(L"area");
  int area_leaves = 0;
  area->AttachEvent(ui::kEventMouseLeave, [&](ui::EventArgs&) {
    ++area_leaves;
    return true;
  });
  Send(WM_MOUSEMOVE, {area->GetPos().left + 2, area->GetPos().top + 2});
  EXPECT_EQ(window_.GetHoverControl(), area);
  Send(WM_MOUSEMOVE, Center(Control(L"inner")));
  EXPECT_EQ(area_leaves, 0);
  EXPECT_EQ(Control(L"inner")->GetState(), ui::kControlStateHot);
  Send(WM_MOUSEMOVE, Center(Control(L"check")));  // now it has been left
  EXPECT_EQ(area_leaves, 1);
  EXPECT_EQ(Control(L"inner")->GetState(), ui::kControlStateNormal);

  // A check box reports select and unselect, never a click; an option clicks, then selects.
  std::vector<int> events;
  auto record = [&](ui::EventArgs& args) {
    events.push_back(args.type);
    return true;
  };
  for (const wchar_t* name : {L"check", L"opt"}) {
    for (int type : {ui::kEventClick, ui::kEventSelect, ui::kEventUnSelect}) {
      Control(name)->AttachEvent(type, record);
    }
  }
  Click(Control(L"check"));
  Click(Control(L"check"));
  EXPECT_EQ(events, (std::vector<int>{ui::kEventSelect, ui::kEventUnSelect}));
  events.clear();
  Click(Control(L"opt"));
  EXPECT_EQ(events, (std::vector<int>{ui::kEventClick, ui::kEventSelect}));

  // A disabled button lets the mouse through to its parent and keeps its state.
  int row_downs = 0;
  Control(L"row")->AttachBubbledEvent(ui::kEventMouseButtonDown, [&](ui::EventArgs& args) {
    if (args.sender == window_.FindControl(L"off")) ++row_downs;
    return true;
  });
  Click(Control(L"off"));
  EXPECT_EQ(row_downs, 1);
  EXPECT_EQ(Control(L"off")->GetState(), ui::kControlStateDisabled);
}

TEST_F(WindowTest, CaptionDragsExceptOverButtons) {
  auto hit = [&](POINT client) {
    ::ClientToScreen(hwnd_, &client);
    return ::SendMessageW(hwnd_, WM_NCHITTEST, 0, MAKELPARAM(client.x, client.y));
  };
  const RECT& area = Control(L"area")->GetPos();
  EXPECT_EQ(hit({area.left + 2, area.top + 2}), HTCAPTION);
  EXPECT_EQ(hit(Center(Control(L"inner"))), HTCLIENT);
  EXPECT_EQ(hit(Center(Control(L"check"))), HTCLIENT);
}

TEST_F(WindowTest, TitleBarButtons) {
  Click(Control(L"minbtn"));
  EXPECT_TRUE(Pump([&] { return ::IsIconic(hwnd_) != FALSE; }));
  ::ShowWindow(hwnd_, SW_RESTORE);
  Click(Control(L"closebtn"));
  EXPECT_TRUE(Pump([&] { return !::IsWindow(hwnd_); }));
  EXPECT_EQ(window_.GetCloseCode(), 1u);
  EXPECT_EQ(window_.GetHWND(), nullptr);
}

}  // namespace

// Each change of style or place before the first paint is a round trip to the display: a window
// created with its final style takes its layout's size and its centered place in one move.
class CenteredWindow : public TestWindow {
 public:
  int moves = 0;
  int style_changes = 0;

 protected:
  bool CentersWhenCreated() const override { return true; }
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) override {
    if (message == WM_WINDOWPOSCHANGED) {
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(lparam);
      if (!(pos->flags & SWP_NOMOVE) || !(pos->flags & SWP_NOSIZE)) ++moves;
    }
    if (message == WM_STYLECHANGED) ++style_changes;
    return TestWindow::OnMessage(message, wparam, lparam, handled);
  }
};

TEST(WindowCreation, FinalStyleAndCenteredPlaceInOneMove) {
  CenteredWindow window;
  HWND hwnd = window.Create(nullptr, L"centered", window.GetStyle(), 0, false, RECT());
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(window.style_changes, 0);
  EXPECT_EQ(window.moves, 1);
  RECT rect = {};
  ::GetWindowRect(hwnd, &rect);
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &info));
  EXPECT_EQ(rect.right - rect.left, 200);
  EXPECT_EQ(rect.bottom - rect.top, 120);
  EXPECT_EQ(rect.left, info.rcWork.left + (info.rcWork.right - info.rcWork.left - 200) / 2);
  EXPECT_EQ(rect.top, info.rcWork.top + (info.rcWork.bottom - info.rcWork.top - 120) / 2);
  // Centering again finds it in place and does not move it.
  window.CenterWindow();
  EXPECT_EQ(window.moves, 1);
  ::DestroyWindow(hwnd);
}
