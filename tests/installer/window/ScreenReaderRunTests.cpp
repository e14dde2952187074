// The built installer driven from a second process as a screen reader drives it (the window's
// accessible tree read and pressed through the system's accessibility library, and its events)
// and as a keyboard user drives it, with keys from the system's input queue.
#include <gtest/gtest.h>

#include <oleacc.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/StringUtil.h"
#include "base/UniqueResource.h"
#include "installer/main/SystemUtil.h"
#include "tests/installer/main/TestChild.h"
#include "tests/installer/window/SetupTestSupport.h"
#include "tools/demo/driver/InstallerDriver.h"

namespace {

using setup_test::FromBuildPath;
using setup_test::PumpUntil;

constexpr DWORD kWatchdogMs = 120000;

struct Event {
  DWORD event;
  LONG child;
  HWND window;
};
std::vector<Event> g_events;
HWND g_window = nullptr;

// Events of the window under test, and of its popups (the open list) when it is null.
void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD,
                         DWORD) {
  if ((!g_window || hwnd == g_window) && object == OBJID_CLIENT) {
    g_events.push_back({event, child, hwnd});
  }
}

bool EventSeen(DWORD event, LONG child, HWND window = nullptr) {
  for (const Event& seen : g_events) {
    if (seen.event == event && seen.child == child && (!window || seen.window == window)) {
      return true;
    }
  }
  return false;
}

// The last focus event's child, 0 for none.
LONG LastFocusEvent() {
  for (auto it = g_events.rbegin(); it != g_events.rend(); ++it) {
    if (it->event == EVENT_OBJECT_FOCUS) return it->child;
  }
  return 0;
}

VARIANT Child(LONG id) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = id;
  return v;
}

class Reader {
 public:
  explicit Reader(IAccessible* acc) : acc_(acc) {}
  std::wstring Name(LONG id) { return Text(&IAccessible::get_accName, id); }
  std::wstring Value(LONG id) { return Text(&IAccessible::get_accValue, id); }
  LONG Role(LONG id) { return Variant(&IAccessible::get_accRole, id); }
  LONG State(LONG id) { return Variant(&IAccessible::get_accState, id); }
  bool Shows(LONG id) { return (State(id) & STATE_SYSTEM_INVISIBLE) == 0; }
  // The first child with this name and role, 0 when there is none.
  LONG Find(const std::wstring& name, LONG role) {
    LONG count = 0;
    acc_->get_accChildCount(&count);
    for (LONG id = 1; id <= count; ++id) {
      if (Role(id) == role && (name.empty() || Name(id) == name)) return id;
    }
    return 0;
  }

 private:
  std::wstring Text(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), LONG id) {
    BSTR text = nullptr;
    (acc_->*get)(Child(id), &text);
    std::wstring out = text ? text : L"";
    ::SysFreeString(text);
    return out;
  }
  LONG Variant(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), LONG id) {
    VARIANT v;
    ::VariantInit(&v);
    (acc_->*get)(Child(id), &v);
    return v.vt == VT_I4 ? v.lVal : -1;
  }

 public:
  // What a screen reader says of the child: its name, role, value and states that matter.
  std::wstring Spoken(LONG id) {
    wchar_t role[64] = {};
    ::GetRoleTextW(static_cast<DWORD>(Role(id)), role, 64);
    std::wstring said = L"\"" + Name(id) + L"\" " + role;
    if (!Value(id).empty()) said += L" \"" + Value(id) + L"\"";
    const LONG state = State(id);
    if (state & STATE_SYSTEM_CHECKED) said += L" checked";
    if (state & STATE_SYSTEM_SELECTED) said += L" selected";
    if (state & STATE_SYSTEM_DEFAULT) said += L" default";
    return said;
  }
  // The focus, then every child that shows, as a reader walks the page.
  std::string Page() {
    VARIANT focus;
    ::VariantInit(&focus);
    std::wstring page = L"  focus: ";
    page += acc_->get_accFocus(&focus) == S_OK && focus.vt == VT_I4 && focus.lVal > 0
                ? Spoken(focus.lVal)
                : L"(none)";
    LONG count = 0;
    acc_->get_accChildCount(&count);
    for (LONG id = 1; id <= count; ++id) {
      if (Shows(id)) page += L"\n  " + Spoken(id);
    }
    return nbase::UTF16ToUTF8(page);
  }
  LONG Focused() {
    VARIANT child;
    ::VariantInit(&child);
    return acc_->get_accFocus(&child) == S_OK && child.vt == VT_I4 ? child.lVal : 0;
  }

 private:
  IAccessible* acc_;
};

std::wstring LocalTemp() {
  wchar_t folder[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder);
  return std::wstring(folder) + L"\\Temp\\";
}

// A copy of the installer in a folder of its own, run as a user starts it; a run still going
// when the test ends is ended with it.
struct InstallerRun {
  std::wstring exe;
  testing_support::StartedProgram program;
  HWND window = nullptr;

  ~InstallerRun() {
    const HANDLE process = program.process.get();
    if (process && ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
      ::TerminateProcess(process, 1);
    }
  }
};

// Waits for the demo product an earlier run started to close, then copies the installer into
// a folder of that name under LocalTemp. Call through ASSERT_NO_FATAL_FAILURE.
void CopyInstaller(const wchar_t* folder_name, InstallerRun* run) {
  for (int i = 0; i < 300 && sysutil::IsProcessRunning(L"Minteo.exe"); ++i) ::Sleep(100);
  const std::wstring folder = LocalTemp() + folder_name;
  ::CreateDirectoryW(folder.c_str(), nullptr);
  run->exe = folder + L"\\Clipmint_installer.exe";
  ASSERT_TRUE(::CopyFileW(FromBuildPath(INSTALLER_EXE_PATH).c_str(), run->exe.c_str(), FALSE));
}

// Starts the copy and waits until its setup window shows. Call through ASSERT_NO_FATAL_FAILURE.
void StartInstaller(InstallerRun* run) {
  run->program = testing_support::StartProgram(run->exe, L"");
  ASSERT_TRUE(run->program);
  ASSERT_TRUE(PumpUntil(
      [&] {
        run->window = demo::FindSetupWindow(run->program.process_id);
        return run->window && ::IsWindowVisible(run->window);
      },
      kWatchdogMs));
}

TEST(ScreenReaderRun, FindsPressesAndFollowsTheWholeRun) {
  nbase::ScopedCoInitialize com;
  InstallerRun run;
  ASSERT_NO_FATAL_FAILURE(CopyInstaller(L"reader_run", &run));
  const std::wstring install = demo::DefaultInstallFolder();
  setup_test::RemoveTree(install.substr(0, install.size() - 1));

  ASSERT_NO_FATAL_FAILURE(StartInstaller(&run));
  const HWND window = run.window;
  g_window = window;
  g_events.clear();
  // Filtered by process alone: together with skipping this process, this Wine delivers nothing.
  HWINEVENTHOOK hook =
      ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_VALUECHANGE, nullptr, &OnWinEvent,
                        run.program.process_id, 0, WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(nullptr, hook);

  nbase::ComPtr<IAccessible> acc;
  ASSERT_HRESULT_SUCCEEDED(::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                                        IID_IAccessible, acc.put_void()));
  Reader reader(acc.get());
  const LONG install_now = reader.Find(L"Install Now", ROLE_SYSTEM_PUSHBUTTON);
  const LONG custom = reader.Find(L"Custom Install", ROLE_SYSTEM_CHECKBUTTON);
  const LONG link = reader.Find(L"Service Agreements", ROLE_SYSTEM_LINK);
  const LONG progress = reader.Find(L"", ROLE_SYSTEM_PROGRESSBAR);
  const LONG start_now = reader.Find(L"Start Now", ROLE_SYSTEM_PUSHBUTTON);
  const LONG close = reader.Find(L"Close", ROLE_SYSTEM_PUSHBUTTON);
  const LONG hide = reader.Find(L"Hide", ROLE_SYSTEM_PUSHBUTTON);
  ASSERT_GT(install_now, 0);
  ASSERT_GT(hide, 0);
  EXPECT_GT(reader.Find(L"Choose folder\u2026", ROLE_SYSTEM_PUSHBUTTON), 0)
      << "the folder button is named by its tooltip";
  // Nothing a user can press, tick or read a value from goes unnamed.
  LONG children = 0;
  acc->get_accChildCount(&children);
  for (LONG id = 1; id <= children; ++id) {
    if (reader.Role(id) != ROLE_SYSTEM_STATICTEXT) {
      EXPECT_FALSE(reader.Name(id).empty()) << "child " << id << " role " << reader.Role(id);
    }
  }
  ASSERT_GT(custom, 0);
  ASSERT_GT(link, 0);
  ASSERT_GT(progress, 0);
  ASSERT_GT(start_now, 0);
  EXPECT_GT(close, 0) << "the caption buttons are named by their tooltips";
  EXPECT_NE(0, reader.State(install_now) & STATE_SYSTEM_DEFAULT);
  EXPECT_FALSE(reader.Shows(start_now));
  LONG left = 0, top = 0, width = 0, height = 0;
  ASSERT_HRESULT_SUCCEEDED(acc->accLocation(&left, &top, &width, &height, Child(install_now)));
  RECT on_screen = {};
  ::GetWindowRect(window, &on_screen);
  EXPECT_TRUE(left > on_screen.left && top > on_screen.top && left + width < on_screen.right)
      << left << "," << top << " " << width << "x" << height;
  EXPECT_EQ(240, width);

  // The check box's state follows its tick, and its changes are announced.
  EXPECT_EQ(0, reader.State(custom) & STATE_SYSTEM_CHECKED);
  ASSERT_HRESULT_SUCCEEDED(acc->accDoDefaultAction(Child(custom)));
  EXPECT_TRUE(
      PumpUntil([&] { return (reader.State(custom) & STATE_SYSTEM_CHECKED) != 0; }, kWatchdogMs));
  EXPECT_TRUE(PumpUntil([&] { return EventSeen(EVENT_OBJECT_STATECHANGE, custom); }, kWatchdogMs));
  const LONG language = reader.Find(L"Language Options:", ROLE_SYSTEM_COMBOBOX);
  EXPECT_GT(language, 0) << "the combo is named by its label";
  EXPECT_EQ(L"English", reader.Value(language));
  std::printf("a screen reader on the home page, custom panel open:\n%s\n", reader.Page().c_str());
  ASSERT_HRESULT_SUCCEEDED(acc->accDoDefaultAction(Child(custom)));
  EXPECT_TRUE(
      PumpUntil([&] { return (reader.State(custom) & STATE_SYSTEM_CHECKED) == 0; }, kWatchdogMs));

  // Keyboard focus moves are announced with the focused child.
  ::PostMessageW(window, WM_KEYDOWN, VK_TAB, 1);
  ::PostMessageW(window, WM_KEYDOWN, VK_TAB, 1);
  EXPECT_TRUE(PumpUntil(
      [&] {
        return EventSeen(EVENT_OBJECT_FOCUS, install_now) && EventSeen(EVENT_OBJECT_FOCUS, link);
      },
      kWatchdogMs));
  VARIANT focused;
  ASSERT_EQ(S_OK, acc->get_accFocus(&focused));
  EXPECT_EQ(link, focused.lVal);

  // Pressing Install Now runs the installation; the progress value rises to the end page. The
  // keyboard, and the reader with it, moves to each new page's first button.
  std::printf("a screen reader on the home page:\n%s\n", reader.Page().c_str());
  ASSERT_HRESULT_SUCCEEDED(acc->accDoDefaultAction(Child(install_now)));
  ASSERT_TRUE(PumpUntil([&] { return reader.Shows(progress); }, kWatchdogMs)) << "no download";
  EXPECT_TRUE(PumpUntil([&] { return LastFocusEvent() == hide; }, kWatchdogMs))
      << "no focus event for the download page";
  EXPECT_EQ(hide, reader.Focused());
  // The slide's words are texts a reader finds; the slideshow may have moved on already.
  const std::pair<const wchar_t*, const wchar_t*> slides[] = {
      {L"Everything you copy, kept.",
       L"Clipmint remembers your clipboard history: text, links, images and code."},
      {L"Find any clip in a keystroke.",
       L"Search your history as you type and paste with Ctrl+Shift+V."},
      {L"Pin it. Sync it.", L"Keep favourite snippets pinned and in step on all your PCs."}};
  bool slide_read = false;
  for (const auto& [title, text] : slides) {
    const LONG title_id = reader.Find(title, ROLE_SYSTEM_STATICTEXT);
    const LONG text_id = reader.Find(text, ROLE_SYSTEM_STATICTEXT);
    if (title_id > 0 && text_id > 0 && reader.Shows(title_id) && reader.Shows(text_id)) {
      slide_read = true;
    }
  }
  EXPECT_TRUE(slide_read) << "no slide's words on the download page";
  std::printf("a screen reader on the download page:\n%s\n", reader.Page().c_str());
  std::vector<int> values;
  ASSERT_TRUE(PumpUntil(
      [&] {
        const std::wstring value = reader.Value(progress);
        if (!value.empty()) {
          const int percent = std::stoi(value);
          if (values.empty() || values.back() != percent) values.push_back(percent);
        }
        return reader.Shows(start_now);
      },
      kWatchdogMs))
      << "no end page";
  ASSERT_FALSE(values.empty());
  EXPECT_GT(values.back(), 0);
  EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
  EXPECT_TRUE(EventSeen(EVENT_OBJECT_VALUECHANGE, progress));
  EXPECT_TRUE(PumpUntil([&] { return LastFocusEvent() == start_now; }, kWatchdogMs))
      << "no focus event for the end page";
  EXPECT_EQ(start_now, reader.Focused());
  // The end page's message is text, read out with the page, not a picture's pixels.
  for (const wchar_t* words :
       {L"Clipmint is ready.", L"Press Ctrl+Shift+V anywhere to open your clipboard history."}) {
    const LONG id = reader.Find(words, ROLE_SYSTEM_STATICTEXT);
    EXPECT_GT(id, 0) << nbase::UTF16ToUTF8(words);
    if (id > 0) {
      EXPECT_TRUE(reader.Shows(id)) << nbase::UTF16ToUTF8(words);
    }
  }
  std::printf("a screen reader on the end page:\n%s\n", reader.Page().c_str());

  // Start Now starts the product and ends the installer.
  ASSERT_HRESULT_SUCCEEDED(acc->accDoDefaultAction(Child(start_now)));
  EXPECT_TRUE(PumpUntil(
      [&] { return ::WaitForSingleObject(run.program.process.get(), 0) == WAIT_OBJECT_0; },
      kWatchdogMs));
  EXPECT_TRUE(PumpUntil([&] { return setup_test::PathExists(install + L"minteo_started.txt"); },
                        kWatchdogMs));
  ::UnhookWinEvent(hook);
  g_window = nullptr;
  EXPECT_TRUE(setup_test::WaitForOpenedUrl(INSTALL_PAGE_EN, 20000));
  for (int i = 0; i < 300 && sysutil::IsProcessRunning(L"Minteo.exe"); ++i) ::Sleep(100);
}

TEST(ScreenReaderRun, TheOpenLanguageListIsAListWhoseHighlightIsSelectedAndFocused) {
  nbase::ScopedCoInitialize com;
  InstallerRun run;
  ASSERT_NO_FATAL_FAILURE(CopyInstaller(L"reader_list", &run));
  ASSERT_NO_FATAL_FAILURE(StartInstaller(&run));
  nbase::ComPtr<IAccessible> acc;
  ASSERT_HRESULT_SUCCEEDED(::AccessibleObjectFromWindow(
      run.window, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible, acc.put_void()));
  Reader reader(acc.get());
  const LONG custom = reader.Find(L"Custom Install", ROLE_SYSTEM_CHECKBUTTON);
  const LONG combo = reader.Find(L"Language Options:", ROLE_SYSTEM_COMBOBOX);
  ASSERT_GT(custom, 0);
  ASSERT_GT(combo, 0);
  ASSERT_HRESULT_SUCCEEDED(acc->accDoDefaultAction(Child(custom)));
  ASSERT_TRUE(PumpUntil([&] { return reader.Shows(combo); }, kWatchdogMs));

  g_window = nullptr;
  g_events.clear();
  HWINEVENTHOOK hook =
      ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_SELECTION, nullptr, &OnWinEvent,
                        run.program.process_id, 0, WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(nullptr, hook);
  ASSERT_HRESULT_SUCCEEDED(acc->accDoDefaultAction(Child(combo)));
  HWND popup = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] {
        const std::vector<HWND> popups =
            demo::TopLevelWindowsOf(run.program.process_id, L"ComboWnd");
        popup = popups.empty() ? nullptr : popups[0];
        return popup && ::IsWindowVisible(popup);
      },
      kWatchdogMs))
      << "the list did not open";
  nbase::ComPtr<IAccessible> list;
  ASSERT_HRESULT_SUCCEEDED(::AccessibleObjectFromWindow(popup, static_cast<DWORD>(OBJID_CLIENT),
                                                        IID_IAccessible, list.put_void()));
  Reader items(list.get());
  EXPECT_EQ(ROLE_SYSTEM_LIST, items.Role(CHILDID_SELF));
  EXPECT_EQ(L"Language Options:", items.Name(CHILDID_SELF));
  const LONG english = items.Find(L"English", ROLE_SYSTEM_LISTITEM);
  const LONG german = items.Find(L"Deutsch", ROLE_SYSTEM_LISTITEM);
  ASSERT_GT(english, 0);
  ASSERT_GT(german, 0);
  auto has = [&](LONG id, LONG bits) { return (items.State(id) & bits) == bits; };
  const LONG highlighted = STATE_SYSTEM_SELECTED | STATE_SYSTEM_FOCUSED;
  EXPECT_TRUE(PumpUntil([&] { return has(english, highlighted); }, kWatchdogMs));
  EXPECT_TRUE(has(german, STATE_SYSTEM_SELECTABLE));
  EXPECT_FALSE(has(german, STATE_SYSTEM_SELECTED));
  EXPECT_EQ(0, items.State(english) & STATE_SYSTEM_CHECKED)
      << "a list item is selected, not ticked";
  EXPECT_TRUE(
      PumpUntil([&] { return EventSeen(EVENT_OBJECT_FOCUS, english, popup); }, kWatchdogMs));
  std::printf("a screen reader in the open language list:\n%s\n", items.Page().c_str());

  // Arrowing moves the selection and the focus, and says so; Escape keeps the old choice.
  ::PostMessageW(popup, WM_KEYDOWN, VK_DOWN, 1);
  EXPECT_TRUE(PumpUntil(
      [&] {
        return EventSeen(EVENT_OBJECT_SELECTION, german, popup) &&
               EventSeen(EVENT_OBJECT_FOCUS, german, popup);
      },
      kWatchdogMs));
  EXPECT_TRUE(has(german, highlighted));
  EXPECT_FALSE(has(english, STATE_SYSTEM_SELECTED));
  EXPECT_EQ(german, items.Focused());
  std::printf("after Down:\n%s\n", items.Page().c_str());
  // The open list under its combo, for a person to compare how the two line up.
  const std::wstring shots = FromBuildPath(BUILD_DIR_PATH "/screenshots");
  ::CreateDirectoryW(shots.c_str(), nullptr);
  demo::SaveWindowPng(::GetDesktopWindow(), shots + L"\\language_list_open.png");
  ::PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(popup); }, kWatchdogMs));
  EXPECT_EQ(L"English", reader.Value(combo));
  EXPECT_EQ(combo, reader.Focused()) << "the keyboard returns to the combo";
  ::UnhookWinEvent(hook);
}

TEST(ScreenReaderRun, ASecondStartBringsBackTheMinimisedFirstWindow) {
  InstallerRun first;
  ASSERT_NO_FATAL_FAILURE(CopyInstaller(L"reader_second", &first));
  ASSERT_NO_FATAL_FAILURE(StartInstaller(&first));
  // What the Hide button and the minimize button both do.
  ::PostMessageW(first.window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(PumpUntil([&] { return ::IsIconic(first.window) != FALSE; }, kWatchdogMs));

  const testing_support::ChildResult second =
      testing_support::RunProgram(first.exe, L"", kWatchdogMs);
  ASSERT_TRUE(second.started);
  EXPECT_FALSE(second.timed_out);
  EXPECT_EQ(0u, second.exit_code);
  EXPECT_TRUE(PumpUntil(
      [&] { return !::IsIconic(first.window) && ::IsWindowVisible(first.window); }, kWatchdogMs))
      << "the first window stays minimised";
  EXPECT_EQ(first.window, ::GetForegroundWindow());
  EXPECT_EQ(WAIT_TIMEOUT, ::WaitForSingleObject(first.program.process.get(), 0))
      << "the first installer must go on";
  EXPECT_EQ(first.window, demo::FindSetupWindow(first.program.process_id));
  demo::SaveWindowPng(
      first.window, FromBuildPath(BUILD_DIR_PATH "/screenshots") + L"\\second_start_restored.png");
}

// Keys as the keyboard sends them, to whichever window has the focus.
void Press(WORD vk, WORD modifier = 0) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD key, DWORD flags) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = flags;
    inputs.push_back(input);
  };
  if (modifier) add(modifier, 0);
  add(vk, 0);
  add(vk, KEYEVENTF_KEYUP);
  if (modifier) add(modifier, KEYEVENTF_KEYUP);
  ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void TypeText(const std::wstring& text) {
  for (wchar_t ch : text) {
    INPUT inputs[2] = {};
    for (INPUT& input : inputs) {
      input.type = INPUT_KEYBOARD;
      input.ki.wScan = ch;
      input.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    ::SendInput(2, inputs, sizeof(INPUT));
  }
}

TEST(KeyboardRun, KeysFromOutsideInstallInGermanToATypedFolderAndStart) {
  nbase::ScopedCoInitialize com;
  InstallerRun run;
  ASSERT_NO_FATAL_FAILURE(CopyInstaller(L"keyboard_run", &run));
  const std::wstring target = LocalTemp() + L"keyboard run target";
  setup_test::RemoveTree(target);
  const std::wstring shots = FromBuildPath(BUILD_DIR_PATH "/screenshots");
  ::CreateDirectoryW(shots.c_str(), nullptr);

  ASSERT_NO_FATAL_FAILURE(StartInstaller(&run));
  const HWND window = run.window;
  nbase::ComPtr<IAccessible> acc;
  ASSERT_HRESULT_SUCCEEDED(::AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                                        IID_IAccessible, acc.put_void()));
  Reader reader(acc.get());
  // The reader's view of the focus tells when the installer has taken each key.
  auto focused = [&] {
    VARIANT child;
    ::VariantInit(&child);
    return acc->get_accFocus(&child) == S_OK && child.vt == VT_I4 ? child.lVal : 0;
  };
  auto shot = [&](const wchar_t* name) {
    PumpUntil([] { return false; }, 400);
    demo::SaveWindowPng(window, shots + L"\\" + name + L".png");
  };
  const LONG install_now = reader.Find(L"Install Now", ROLE_SYSTEM_PUSHBUTTON);
  const LONG custom = reader.Find(L"Custom Install", ROLE_SYSTEM_CHECKBUTTON);
  ASSERT_GT(install_now, 0);
  ::SetForegroundWindow(window);
  ASSERT_TRUE(PumpUntil([&] { return ::GetForegroundWindow() == window; }, kWatchdogMs));

  Press(VK_TAB);
  ASSERT_TRUE(PumpUntil([&] { return focused() == install_now; }, kWatchdogMs));
  shot(L"keyboard_run_home");
  Press(VK_TAB, VK_SHIFT);
  ASSERT_TRUE(PumpUntil([&] { return reader.Name(focused()) == L"Close"; }, kWatchdogMs));
  Press(VK_TAB);
  Press(VK_TAB);
  Press(VK_TAB);
  ASSERT_TRUE(PumpUntil([&] { return focused() == custom; }, kWatchdogMs));
  Press(VK_SPACE);
  ASSERT_TRUE(
      PumpUntil([&] { return (reader.State(custom) & STATE_SYSTEM_CHECKED) != 0; }, kWatchdogMs));
  Press(VK_TAB);
  const LONG combo = reader.Find(L"", ROLE_SYSTEM_COMBOBOX);
  ASSERT_TRUE(PumpUntil([&] { return combo > 0 && focused() == combo; }, kWatchdogMs));
  Press(VK_DOWN);
  ASSERT_TRUE(PumpUntil([&] { return reader.Value(combo) == L"Deutsch"; }, kWatchdogMs));
  Press(VK_TAB);
  const LONG field = reader.Find(L"", ROLE_SYSTEM_TEXT);
  ASSERT_TRUE(PumpUntil([&] { return field > 0 && focused() == field; }, kWatchdogMs));
  Press('A', VK_CONTROL);
  TypeText(target);
  ASSERT_TRUE(PumpUntil([&] { return reader.Value(field) == target; }, kWatchdogMs))
      << "the field shows " << nbase::UTF16ToUTF8(reader.Value(field));
  shot(L"keyboard_run_custom");
  Press(VK_RETURN);

  const LONG start_now = reader.Find(L"Jetzt Starten", ROLE_SYSTEM_PUSHBUTTON);
  ASSERT_GT(start_now, 0) << "the texts are German";
  ASSERT_TRUE(PumpUntil([&] { return reader.Shows(start_now); }, kWatchdogMs)) << "no end page";
  // The end page hands the keyboard to Start Now by itself.
  ASSERT_TRUE(PumpUntil([&] { return focused() == start_now; }, kWatchdogMs));
  EXPECT_GT(reader.Find(L"Dr\u00fccken Sie \u00fcberall Strg+Umschalt+V, um Ihren Verlauf zu "
                        L"\u00f6ffnen.",
                        ROLE_SYSTEM_STATICTEXT),
            0)
      << "the end page's words follow the language chosen";
  shot(L"keyboard_run_end");
  Press(VK_RETURN);
  EXPECT_TRUE(PumpUntil(
      [&] { return ::WaitForSingleObject(run.program.process.get(), 0) == WAIT_OBJECT_0; },
      kWatchdogMs));
  const std::wstring stored = target + L"\\";
  EXPECT_EQ("German", setup_test::ReadFileBytes(stored + L"cache\\language"));
  EXPECT_TRUE(PumpUntil([&] { return setup_test::PathExists(stored + L"minteo_started.txt"); },
                        kWatchdogMs));
  EXPECT_TRUE(setup_test::WaitForOpenedUrl(INSTALL_PAGE_DE, 20000));
  for (int i = 0; i < 300 && sysutil::IsProcessRunning(L"Minteo.exe"); ++i) ::Sleep(100);
  setup_test::RemoveTree(target);
}

}  // namespace
