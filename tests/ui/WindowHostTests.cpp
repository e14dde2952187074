// The window host as a user meets it: a layout that does not load, what a layered window
// shows, and dragging by the caption with real mouse input.
#include <gtest/gtest.h>

#include "tests/ui/RepaintCheck.h"
#include "tests/ui/UiTestSupport.h"

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/UniqueResource.h"
#include "ui/controls/Combo.h"
#include "ui/controls/ListContainerElement.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/WindowImplBase.h"
#include "ui/render/RenderContext.h"

namespace {

// Input sent one step at a time: a step goes out only once the window has taken the one
// before, so how fast the system delivers input cannot change where a drag ends.
struct InputScript {
  struct Step {
    std::function<void()> send;
    // Whether a message the window got shows that this step's input has been taken.
    std::function<bool(UINT message, WPARAM wparam, LPARAM lparam)> taken;
  };
  std::vector<Step> steps;
  size_t next = 0;  // the step whose input went out last, plus one

  void Start() {
    next = 0;
    SendNext();
  }
  bool Done() const { return next == steps.size() && waiting_ == false; }
  void OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    if (!waiting_ || !steps[next - 1].taken(message, wparam, lparam)) return;
    waiting_ = false;
    SendNext();
  }

 private:
  void SendNext() {
    if (next == steps.size()) return;
    waiting_ = true;
    steps[next++].send();
  }
  bool waiting_ = false;
};

class SkinWindow : public ui::WindowImplBase {
 public:
  SkinWindow(std::wstring skin, std::wstring folder)
      : skin_(std::move(skin)), folder_(std::move(folder)) {}
  std::wstring GetSkinFile() override { return skin_; }
  std::wstring GetSkinFolder() override { return folder_; }

 protected:
  std::wstring GetWindowClassName() const override { return L"UiTestHostWindow"; }
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == WM_EXITSIZEMOVE) ++moves_finished_;
    // The script's input goes out from this thread, in the window's own message handling:
    // the system then knows the display's reports of those moves to be echoes, which from
    // another thread could arrive late and put the pointer back where it was.
    if (script_) script_->OnMessage(message, wparam, lparam);
    return ui::WindowImplBase::HandleMessage(message, wparam, lparam);
  }

 public:
  InputScript* script_ = nullptr;
  int moves_finished_ = 0;

 private:
  std::wstring skin_;
  std::wstring folder_;
};

struct FoundBox {
  HWND box = nullptr;
  std::wstring caption;
  std::wstring text;
};

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
  auto* found = reinterpret_cast<FoundBox*>(param);
  wchar_t class_name[32] = {};
  ::GetClassNameW(child, class_name, 32);
  if (_wcsicmp(class_name, L"Static") != 0) return TRUE;
  wchar_t text[512] = {};
  ::GetWindowTextW(child, text, 512);
  // The box's message is its longest static text; the icon is a static without text.
  if (wcslen(text) > found->text.size()) found->text = text;
  return TRUE;
}

BOOL CALLBACK FindMessageBox(HWND hwnd, LPARAM param) {
  wchar_t class_name[32] = {};
  ::GetClassNameW(hwnd, class_name, 32);
  if (wcscmp(class_name, L"#32770") != 0 || !::IsWindowVisible(hwnd)) return TRUE;
  auto* found = reinterpret_cast<FoundBox*>(param);
  found->box = hwnd;
  wchar_t caption[128] = {};
  ::GetWindowTextW(hwnd, caption, 128);
  found->caption = caption;
  ::EnumChildWindows(hwnd, &CollectStaticText, param);
  return FALSE;
}

TEST(WindowHostTest, LayoutThatDoesNotLoadFailsCreationAfterABox) {
  SkinWindow window(L"no_such_layout.xml", L"form");
  const DWORD ui_thread = ::GetCurrentThreadId();
  nbase::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(stop);
  FoundBox found;
  std::atomic<bool> answered{false};
  // The box is modal inside Create on this thread, so only another thread can answer it. It
  // looks every 20 ms for ten seconds at most; if the box never comes, Create returns anyway.
  std::thread helper([&] {
    for (int tries = 0; tries < 500; ++tries) {
      if (::WaitForSingleObject(stop.get(), 20) == WAIT_OBJECT_0) return;
      FoundBox candidate;
      ::EnumThreadWindows(ui_thread, &FindMessageBox, reinterpret_cast<LPARAM>(&candidate));
      if (!candidate.box) continue;
      found = candidate;
      ::PostMessageW(candidate.box, WM_COMMAND, IDOK, 0);
      answered = true;
      return;
    }
  });
  const HWND hwnd = window.Create(nullptr, L"broken", WS_POPUP, 0, false, {10, 10, 110, 110});
  ::SetEvent(stop.get());
  helper.join();

  EXPECT_EQ(hwnd, nullptr);
  EXPECT_EQ(window.GetHWND(), nullptr);
  ASSERT_TRUE(answered);
  EXPECT_EQ(found.caption, L"Quanth");
  EXPECT_NE(found.text.find(L"Failed to load xml file"), std::wstring::npos) << found.text.c_str();
  EXPECT_NE(found.text.find(L"no_such_layout.xml"), std::wstring::npos);
}

// Pixels of a render context, top-down BGRA.
class Pixels {
 public:
  explicit Pixels(ui::IRenderContext* context) : context_(context) { ::GdiFlush(); }
  const BYTE* At(LONG x, LONG y) const {
    return context_->GetBits() + (static_cast<size_t>(y) * context_->GetWidth() + x) * 4;
  }
  DWORD Rgb(LONG x, LONG y) const {
    const BYTE* p = At(x, y);
    return (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[1]) << 8) | p[0];
  }
  BYTE Alpha(LONG x, LONG y) const { return At(x, y)[3]; }
  // Pixels within `rect` whose color is far from `background`: text, for instance.
  int CountUnlike(const RECT& rect, DWORD background) const {
    int count = 0;
    for (LONG y = rect.top; y < rect.bottom; ++y) {
      for (LONG x = rect.left; x < rect.right; ++x) {
        const DWORD c = Rgb(x, y);
        int distance = 0;
        for (int shift = 0; shift < 24; shift += 8) {
          distance += std::abs(static_cast<int>((c >> shift) & 0xFF) -
                               static_cast<int>((background >> shift) & 0xFF));
        }
        if (distance > 200) ++count;
      }
    }
    return count;
  }

 private:
  ui::IRenderContext* context_;
};

// Every control class in one layered window with the default shadow, checked where it paints.
TEST(WindowHostTest, LayeredWindowShowsEveryControlAndATranslucentShadow) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  for (const auto& color :
       std::vector<std::pair<const wchar_t*, const wchar_t*>>{{L"shot_paper", L"#FFFFFFFF"},
                                                              {L"shot_ink", L"#FF000000"},
                                                              {L"shot_title", L"#FF2060C0"},
                                                              {L"shot_close", L"#FFE01010"},
                                                              {L"shot_track", L"#FFC8C8C8"},
                                                              {L"shot_fill", L"#FF10A040"},
                                                              {L"shot_frame", L"#FF808080"}}) {
    global.AddTextColor(color.first, color.second);
  }
  // The default shadow picture, where the skin keeps it: black at a quarter opacity.
  const std::wstring theme = global.GetResourcePath();
  ::CreateDirectoryW(theme.c_str(), nullptr);
  ::CreateDirectoryW((theme + L"form").c_str(), nullptr);
  ::CreateDirectoryW((theme + L"public").c_str(), nullptr);
  ::CreateDirectoryW((theme + L"public\\bk").c_str(), nullptr);
  ASSERT_TRUE(ui_test::WriteFile(theme + L"public\\bk\\bk_shadow.png",
                                 ui_test::MakePng(64, 64, [](int, int) { return 0x40000000u; })));
  const wchar_t kSkin[] =
      L"<Window size=\"328,228\" caption=\"0,0,0,30\">"
      L"<VBox width=\"300\" height=\"200\" bkcolor=\"shot_paper\">"
      L"<HBox height=\"30\" bkcolor=\"shot_title\">"
      L"<Label name=\"title\" text=\"Setup Wizard\" normaltextcolor=\"shot_paper\" "
      L"width=\"auto\" height=\"stretch\" align=\"vcenter\" textpadding=\"8,0,0,0\"/>"
      L"<Control/><Button name=\"closebtn\" width=\"30\" height=\"30\" "
      L"normalcolor=\"shot_close\"/></HBox>"
      L"<TabBox name=\"pages\" height=\"30\">"
      L"<Box><Label name=\"page_text\" text=\"Welcome aboard\" normaltextcolor=\"shot_ink\" "
      L"width=\"auto\" height=\"stretch\"/></Box>"
      L"<Box><Label text=\"Second page\" normaltextcolor=\"shot_ink\"/></Box></TabBox>"
      L"<HBox height=\"24\" childmargin=\"4\">"
      L"<CheckBox name=\"check\" width=\"20\" height=\"20\" normalcolor=\"shot_ink\"/>"
      L"<Option name=\"opt\" width=\"20\" height=\"20\" normalcolor=\"shot_ink\"/>"
      L"<Combo name=\"combo\" width=\"150\" bordersize=\"1\" bordercolor=\"shot_frame\"/></HBox>"
      L"<RichEdit name=\"edit\" height=\"28\" text=\"C:\\Games\" padding=\"4,4,4,0\"/>"
      L"<Progress name=\"progress\" width=\"stretch\" height=\"12\" bkcolor=\"shot_track\" "
      L"progresscolor=\"shot_fill\" value=\"25\"/>"
      L"<Control/></VBox></Window>";
  SkinWindow window(kSkin, L"form");
  const HWND hwnd = window.Create(nullptr, L"shot", WS_POPUP, 0, true, {30, 30, 358, 258});
  ASSERT_NE(hwnd, nullptr);
  ASSERT_TRUE(window.IsLayeredWindow());
  auto* combo = static_cast<ui::Combo*>(window.FindControl(L"combo"));
  ASSERT_NE(combo, nullptr);
  auto* item = new ui::ListContainerElement();
  item->SetAttribute(L"text", L"Deutsch");
  item->SetAttribute(L"normaltextcolor", L"shot_ink");
  combo->Add(item);
  combo->SelectItem(0);
  window.ShowWindow(true, false);

  ui::Control* progress = window.FindControl(L"progress");
  ASSERT_NE(progress, nullptr);
  ui::IRenderContext* context = window.GetRenderContext();
  ASSERT_NE(context, nullptr);
  // Drawn by the time it is shown, before a single message was taken: a layered window's
  // posted paint would leave it empty on screen until then.
  ASSERT_TRUE(context->GetBits());
  EXPECT_EQ(Pixels(context).Rgb(progress->GetPos().left + 2,
                                (progress->GetPos().top + progress->GetPos().bottom) / 2),
            0x10A040u);
  ASSERT_TRUE(ui_test::PumpUntil(
      [&] {
        const RECT& r = progress->GetPos();
        return r.right > 0 && context->GetWidth() == 328 && context->GetBits() &&
               Pixels(context).Rgb(r.left + 2, (r.top + r.bottom) / 2) == 0x10A040;
      },
      3000));
  const Pixels pixels(context);

  // The content sits inside the 14-pixel shadow margin, opaque; the margin is see-through
  // but not empty.
  EXPECT_EQ(window.GetRoot()->GetPos().right, 328);
  EXPECT_EQ(pixels.Alpha(150, 200), 255);
  EXPECT_EQ(pixels.Rgb(150, 200), 0xFFFFFFu);
  const BYTE margin_alpha = pixels.Alpha(5, 114);
  EXPECT_GT(margin_alpha, 20);
  EXPECT_LT(margin_alpha, 110);
  EXPECT_EQ(pixels.Alpha(327 - 5, 114), margin_alpha);

  // The progress bar is filled to a quarter of its width and shows the track beyond.
  const RECT bar = progress->GetPos();
  const LONG mid_y = (bar.top + bar.bottom) / 2;
  const LONG quarter = bar.left + (bar.right - bar.left) / 4;
  EXPECT_EQ(bar.right - bar.left, 300);
  EXPECT_EQ(pixels.Rgb(quarter - 3, mid_y), 0x10A040u);
  EXPECT_EQ(pixels.Rgb(quarter + 3, mid_y), 0xC8C8C8u);

  // Text is drawn where the labels, the combo's chosen item and the field are.
  for (const wchar_t* name : {L"title", L"page_text"}) {
    ui::Control* label = window.FindControl(name);
    const RECT r = label->GetPos();
    const DWORD background = pixels.Rgb(r.right - 1, r.bottom - 1);
    EXPECT_GT(pixels.CountUnlike(r, background), 20) << name;
  }
  EXPECT_GT(pixels.CountUnlike(combo->GetPos(), 0xFFFFFF), 20);
  EXPECT_GT(pixels.CountUnlike(window.FindControl(L"edit")->GetPos(), 0xFFFFFF), 20);
  const RECT close = window.FindControl(L"closebtn")->GetPos();
  EXPECT_EQ(pixels.Rgb((close.left + close.right) / 2, (close.top + close.bottom) / 2), 0xE01010u);
  ::DestroyWindow(hwnd);
}

TEST(WindowHostTest, RepaintingOneControlLeavesItsParentsOtherChildrenAlone) {
  ui_test::AddTextColors(
      {{L"part_paper", L"#FFFFFFFF"}, {L"part_mark", L"#FFC02020"}, {L"part_fill", L"#FF10A040"}});
  // A parent with a background and two children: a later repaint of the spot alone must not
  // paint the parent's background over the mark, which that pass does not paint again.
  const wchar_t kSkin[] =
      L"<Window size=\"200,100\" shadowattached=\"false\">"
      L"<VBox bkcolor=\"part_paper\"><Control name=\"mark\" height=\"40\" "
      L"bkcolor=\"part_mark\"/><Control/><Control name=\"spot\" height=\"10\"/></VBox>"
      L"</Window>";
  SkinWindow window(kSkin, L"form");
  const HWND hwnd = ui_test::OpenPopup(window, L"parts", {40, 40, 240, 140}, true);
  ASSERT_NE(hwnd, nullptr);
  ui::IRenderContext* context = window.GetRenderContext();
  ASSERT_TRUE(ui_test::PumpUntil(
      [&] { return context->GetBits() && Pixels(context).Rgb(20, 20) == 0xC02020u; }, 3000));
  ASSERT_TRUE(ui_test::SettlePaint(window));
  ui::Control* spot = window.FindControl(L"spot");
  ASSERT_NE(spot, nullptr);
  spot->SetBkColor(L"part_fill");
  const RECT r = spot->GetPos();
  ASSERT_TRUE(ui_test::PumpUntil(
      [&] { return Pixels(context).Rgb(r.left + 2, (r.top + r.bottom) / 2) == 0x10A040u; }, 3000));
  EXPECT_EQ(Pixels(context).Rgb(20, 20), 0xC02020u);
  ::DestroyWindow(hwnd);
}

TEST(WindowHostTest, DraggingTheCaptionMovesTheWindowButPressingAButtonDoesNot) {
  const wchar_t kSkin[] =
      L"<Window size=\"200,120\" caption=\"0,0,0,120\" shadowattached=\"false\">"
      L"<VBox><Control height=\"60\"/>"
      L"<Button name=\"press\" width=\"60\" height=\"40\"/></VBox></Window>";
  SkinWindow window(kSkin, L"");
  const HWND hwnd = ui_test::OpenPopup(window, L"drag", {100, 100, 300, 220}, false, true);
  ASSERT_NE(hwnd, nullptr);
  ::UpdateWindow(hwnd);
  ui::Control* press = window.FindControl(L"press");
  ASSERT_TRUE(ui_test::PumpUntil([&] { return press->GetPos().right > 0; }, 2000));
  int clicks = 0;
  press->AttachEvent(ui::kEventClick, [&](ui::EventArgs&) {
    ++clicks;
    return true;
  });

  auto window_origin = [&] {
    RECT r = {};
    ::GetWindowRect(hwnd, &r);
    return POINT{r.left, r.top};
  };
  // Over the caption the pointer's moves come as non-client ones, in screen coordinates.
  auto at_client = [hwnd](POINT client) {
    POINT screen = client;
    ::ClientToScreen(hwnd, &screen);
    return [client, screen](UINT message, WPARAM, LPARAM lparam) {
      const POINT at = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      return (message == WM_MOUSEMOVE && at.x == client.x && at.y == client.y) ||
             (message == WM_NCMOUSEMOVE && at.x == screen.x && at.y == screen.y);
    };
  };
  auto message_is = [](UINT wanted) {
    return [wanted](UINT message, WPARAM, LPARAM) { return message == wanted; };
  };
  // Press at a client point, move by `offset` in four steps and release. A caption drag is
  // confirmed step by step by the move loop's proposals for the window; a press on a button
  // by the moves the captured window gets.
  int stuck_at = 0;
  auto drag = [&](POINT client_from, POINT offset, bool moves_window) {
    POINT from = client_from;
    ::ClientToScreen(hwnd, &from);
    const POINT origin = window_origin();
    InputScript script;
    POINT cursor = {};
    ::GetCursorPos(&cursor);
    const bool already_there = cursor.x == from.x && cursor.y == from.y;
    script.steps.push_back({[from] { ui_test::SendPointerMove(from); },
                            [&, at = at_client(client_from)](UINT m, WPARAM w, LPARAM l) {
                              return already_there || at(m, w, l);
                            }});
    if (already_there) script.steps.back().send = [] {};
    script.steps.push_back({[] { ui_test::SendLeftButton(true); },
                            message_is(moves_window ? WM_ENTERSIZEMOVE : WM_LBUTTONDOWN)});
    for (int step = 1; step <= 4; ++step) {
      const POINT delta = {offset.x * step / 4, offset.y * step / 4};
      const POINT to = {origin.x + delta.x, origin.y + delta.y};
      auto taken =
          moves_window ? std::function<bool(UINT, WPARAM, LPARAM)>([to](UINT message, WPARAM,
                                                                        LPARAM lparam) {
            const RECT* proposed = reinterpret_cast<const RECT*>(lparam);
            return message == WM_MOVING && proposed->left == to.x && proposed->top == to.y;
          })
                       : at_client({client_from.x + delta.x, client_from.y + delta.y});
      script.steps.push_back({[from, delta] {
                                ui_test::SendPointerMove({from.x + delta.x, from.y + delta.y});
                              },
                              taken});
    }
    script.steps.push_back({[] { ui_test::SendLeftButton(false); },
                            message_is(moves_window ? WM_EXITSIZEMOVE : WM_LBUTTONUP)});
    window.script_ = &script;
    script.Start();
    // A press that is already taken, with the pointer already there, needs no message.
    if (already_there) script.OnMessage(0, 0, 0);
    const bool done = ui_test::PumpUntil([&] { return script.Done(); }, 10000);
    window.script_ = nullptr;
    stuck_at = done ? 0 : static_cast<int>(script.next);
    return done;
  };

  const POINT start = window_origin();
  ASSERT_TRUE(drag({20, 20}, {40, 30}, true)) << "the drag stopped at its step " << stuck_at;
  const POINT dragged = window_origin();
  EXPECT_EQ(window.moves_finished_, 1);
  EXPECT_EQ(dragged.x - start.x, 40);
  EXPECT_EQ(dragged.y - start.y, 30);

  // Pressed on the button and released on it again: a click, and the window stays put.
  const RECT& b = press->GetPos();
  EXPECT_TRUE(drag({b.left + 10, b.top + 10}, {30, 20}, false))
      << "the press stopped at its step " << stuck_at;
  EXPECT_TRUE(ui_test::PumpUntil([&] { return clicks == 1; }, 5000));
  const POINT after = window_origin();
  EXPECT_EQ(window.moves_finished_, 1);
  EXPECT_EQ(after.x, dragged.x);
  EXPECT_EQ(after.y, dragged.y);
  ::DestroyWindow(hwnd);
}

// A move to a monitor of another DPI: lengths, fonts and window settings follow the new scale,
// the window takes the rectangle the system suggests, and repaints agree with a full one.
TEST(WindowHostTest, DpiChangeRescalesTheWindowAndItsControls) {
  ui::DpiManager& dpi = ui::DpiManager::Instance();
  dpi.AdaptDPI();
  const int previous = dpi.GetScale();
  dpi.SetScale(100);
  ui::GlobalManager::Instance().AddFont(L"dpi_14", L"system", 14, false, false, false, false);
  const wchar_t kSkin[] =
      L"<Window size=\"200,120\" caption=\"0,0,0,30\" shadowattached=\"false\">"
      L"<VBox childmargin=\"4\"><Button name=\"press\" width=\"60\" height=\"40\" "
      L"margin=\"10,6,0,0\"/><Label name=\"text\" text=\"Scaled\" width=\"auto\" font=\"dpi_14\" "
      L"textpadding=\"8,0,8,0\"/></VBox></Window>";
  SkinWindow window(kSkin, L"");
  const HWND hwnd = ui_test::OpenPopup(window, L"dpi", {100, 100, 300, 220}, true);
  ASSERT_NE(hwnd, nullptr);
  ASSERT_TRUE(ui_test::SettlePaint(window));
  ui::Control* press = window.FindControl(L"press");
  ui::Control* text = window.FindControl(L"text");
  const LONG text_width = text->GetPos().right - text->GetPos().left;
  ASSERT_GT(text_width, 16);

  RECT suggested = {120, 110, 420, 290};
  ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  RECT frame = {};
  ::GetWindowRect(hwnd, &frame);
  EXPECT_TRUE(::EqualRect(&frame, &suggested));
  EXPECT_EQ(dpi.GetScale(), 150);
  EXPECT_EQ(window.GetSettings().caption.bottom, 45);
  ASSERT_TRUE(ui_test::SettlePaint(window));
  const RECT& b = press->GetPos();
  EXPECT_EQ(b.right - b.left, 90);
  EXPECT_EQ(b.bottom - b.top, 60);
  EXPECT_EQ(b.left, 15);
  EXPECT_EQ(b.top, 9);
  EXPECT_EQ(text->GetPos().top, b.bottom + 6);
  // Larger font and padding: the auto-sized label grows by about half.
  const LONG scaled_width = text->GetPos().right - text->GetPos().left;
  EXPECT_GT(scaled_width, text_width * 5 / 4);
  EXPECT_TRUE(ui_test::RepaintsAgree(window));

  suggested = {120, 110, 320, 230};
  ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&suggested));
  ASSERT_TRUE(ui_test::SettlePaint(window));
  EXPECT_EQ(press->GetPos().right - press->GetPos().left, 60);
  EXPECT_EQ(text->GetPos().right - text->GetPos().left, text_width);
  EXPECT_TRUE(ui_test::RepaintsAgree(window));
  ::DestroyWindow(hwnd);
  dpi.SetScale(previous);
}

TEST(WindowHostTest, AWindowIsMovedIntoItsWorkAreaButNeverResized) {
  const RECT area = {0, 0, 1280, 760};
  auto fit = [&](RECT window) { return ui::Window::FitIntoArea(window, area); };
  auto same = [](RECT a, RECT b) { return ::EqualRect(&a, &b) != FALSE; };
  EXPECT_TRUE(same({100, 100, 500, 400}, fit({100, 100, 500, 400})));
  // Grown past the bottom: up by just that much.
  EXPECT_TRUE(same({100, 10, 1060, 760}, fit({100, 109, 1060, 859})));
  EXPECT_TRUE(same({320, 0, 1280, 300}, fit({400, -50, 1360, 250})));
  // Taller than the area: the top stays visible, where the caption and its buttons are.
  EXPECT_TRUE(same({0, 0, 1400, 900}, fit({-30, 40, 1370, 940})));

  // A DPI change whose suggested place leaves the rescaled window off the bottom.
  const wchar_t kSkin[] =
      L"<Window size=\"200,120\" caption=\"0,0,0,30\" shadowattached=\"false\">"
      L"<VBox><Button name=\"press\" width=\"60\" height=\"40\"/></VBox></Window>";
  ui::DpiManager& dpi = ui::DpiManager::Instance();
  dpi.AdaptDPI();
  const int previous = dpi.GetScale();
  dpi.SetScale(100);
  SkinWindow window(kSkin, L"");
  const HWND hwnd = ui_test::OpenPopup(window, L"dpi_edge", {100, 100, 300, 220}, true);
  ASSERT_NE(hwnd, nullptr);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  RECT suggested = {120, work.bottom - 100, 420, work.bottom + 80};
  ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  RECT frame = {};
  ::GetWindowRect(hwnd, &frame);
  EXPECT_EQ(work.bottom, frame.bottom);
  EXPECT_EQ(180, frame.bottom - frame.top);
  EXPECT_EQ(120, frame.left);
  ::DestroyWindow(hwnd);
  dpi.SetScale(previous);
}

}  // namespace
