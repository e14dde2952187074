// ui::WindowAccessible and the window's side of screen readers: WM_GETOBJECT and WinEvents.
#include "ui/core/WindowAccessible.h"

#include <oleauto.h>

#include <algorithm>

#include "base/ComIds.h"
#include "base/SystemLibrary.h"
#include "ui/core/Box.h"
#include "ui/core/Control.h"
#include "ui/core/Window.h"

namespace ui {
namespace {

// The accessibility library is not one Windows always loads from the system folder.
struct AccessibilityApi {
  using LresultFromObjectFn = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
  using AccessibleObjectFromWindowFn = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
  LresultFromObjectFn lresult_from_object = nullptr;
  AccessibleObjectFromWindowFn object_from_window = nullptr;
};

const AccessibilityApi& Api() {
  static const AccessibilityApi api = [] {
    AccessibilityApi bound;
    nbase::BindSystemFunction(bound.lresult_from_object, L"oleacc.dll", "LresultFromObject");
    nbase::BindSystemFunction(bound.object_from_window, L"oleacc.dll",
                              "AccessibleObjectFromWindow");
    return bound;
  }();
  return api;
}

HRESULT ReturnText(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (text.empty()) return S_FALSE;
  *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

void SetChild(VARIANT* out, LONG id) {
  ::VariantInit(out);
  out->vt = VT_I4;
  out->lVal = id;
}

// The first static text in a control's subtree, for a label written inside a box.
const Control* FirstStaticText(const Control* control) {
  if (control->GetAccessibleRole() == kRoleStaticText) return control;
  if (!control->IsBox()) return nullptr;
  const Box* box = static_cast<const Box*>(control);
  for (size_t i = 0; i < box->GetCount(); ++i) {
    if (const Control* found = FirstStaticText(box->GetItemAt(i))) return found;
  }
  return nullptr;
}

}  // namespace

WindowAccessible::WindowAccessible(Window* window) : window_(window) {}

HRESULT WindowAccessible::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(riid, nbase::kIidUnknown) || IsEqualIID(riid, nbase::kIidDispatch) ||
      IsEqualIID(riid, nbase::kIidAccessible)) {
    *object = static_cast<IAccessible*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG WindowAccessible::AddRef() {
  return static_cast<ULONG>(::InterlockedIncrement(&references_));
}

ULONG WindowAccessible::Release() {
  const LONG left = ::InterlockedDecrement(&references_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT WindowAccessible::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT WindowAccessible::GetTypeInfo(UINT, LCID, ITypeInfo**) {
  return E_NOTIMPL;
}
HRESULT WindowAccessible::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}
HRESULT WindowAccessible::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                 UINT*) {
  return E_NOTIMPL;
}

LONG WindowAccessible::PlatformRole(int role) {
  switch (role) {
    case kRolePushButton:
      return ROLE_SYSTEM_PUSHBUTTON;
    case kRoleCheckButton:
      return ROLE_SYSTEM_CHECKBUTTON;
    case kRoleRadioButton:
      return ROLE_SYSTEM_RADIOBUTTON;
    case kRoleComboBox:
      return ROLE_SYSTEM_COMBOBOX;
    case kRoleEditableText:
      return ROLE_SYSTEM_TEXT;
    case kRoleProgressBar:
      return ROLE_SYSTEM_PROGRESSBAR;
    case kRoleStaticText:
      return ROLE_SYSTEM_STATICTEXT;
    case kRoleLink:
      return ROLE_SYSTEM_LINK;
    case kRoleListItem:
      return ROLE_SYSTEM_LISTITEM;
    case kRoleList:
      return ROLE_SYSTEM_LIST;
    default:
      return 0;
  }
}

std::wstring WindowAccessible::NameOf(const Control* control) {
  std::wstring name = control->GetAccessibleName();
  if (!name.empty() || control->GetAccessibleRole() == kRoleStaticText) return name;
  // A control without words of its own is named by the text just before it: its previous
  // sibling's, or, when it opens its box (a field inside a frame), the box's previous sibling's.
  const Control* at = control;
  for (int level = 0; level < 2 && at->GetParent(); ++level) {
    const Box* parent = at->GetParent();
    const int index = parent->GetItemIndex(at);
    if (index > 0) {
      const Control* label = FirstStaticText(parent->GetItemAt(static_cast<size_t>(index - 1)));
      return label ? label->GetAccessibleName() : name;
    }
    at = parent;
  }
  return name;
}

HRESULT WindowAccessible::Resolve(const VARIANT& child, Control** control) const {
  *control = nullptr;
  if (!window_ || !window_->GetHWND()) return RPC_E_DISCONNECTED;
  if (child.vt != VT_I4) return E_INVALIDARG;
  if (child.lVal == CHILDID_SELF) return S_OK;
  const std::vector<Control*> controls = window_->GetAccessibleControls();
  if (child.lVal < 1 || static_cast<size_t>(child.lVal) > controls.size()) return E_INVALIDARG;
  *control = controls[static_cast<size_t>(child.lVal) - 1];
  return S_OK;
}

HRESULT WindowAccessible::get_accParent(IDispatch** parent) {
  if (!parent) return E_POINTER;
  *parent = nullptr;
  if (!window_ || !window_->GetHWND()) return RPC_E_DISCONNECTED;
  if (!Api().object_from_window) return S_FALSE;
  return Api().object_from_window(window_->GetHWND(), static_cast<DWORD>(OBJID_WINDOW),
                                  nbase::kIidDispatch, reinterpret_cast<void**>(parent));
}

HRESULT WindowAccessible::get_accChildCount(LONG* count) {
  if (!count) return E_POINTER;
  *count = 0;
  if (!window_ || !window_->GetHWND()) return RPC_E_DISCONNECTED;
  *count = static_cast<LONG>(window_->GetAccessibleControls().size());
  return S_OK;
}

HRESULT WindowAccessible::get_accChild(VARIANT child, IDispatch** dispatch) {
  if (!dispatch) return E_POINTER;
  *dispatch = nullptr;
  Control* control = nullptr;
  const HRESULT resolved = Resolve(child, &control);
  if (FAILED(resolved)) return resolved;
  if (!control) return E_INVALIDARG;
  return S_FALSE;  // a simple element: the client asks this object about it by its id
}

HRESULT WindowAccessible::get_accName(VARIANT child, BSTR* name) {
  if (!name) return E_POINTER;
  *name = nullptr;
  Control* control = nullptr;
  const HRESULT resolved = Resolve(child, &control);
  if (FAILED(resolved)) return resolved;
  if (control) return ReturnText(NameOf(control), name);
  const std::wstring own = window_->GetAccessibleClientName();
  if (!own.empty()) return ReturnText(own, name);
  const int length = ::GetWindowTextLengthW(window_->GetHWND());
  std::wstring title(static_cast<size_t>(length) + 1, L'\0');
  title.resize(static_cast<size_t>(::GetWindowTextW(window_->GetHWND(), &title[0], length + 1)));
  return ReturnText(title, name);
}

HRESULT WindowAccessible::get_accValue(VARIANT child, BSTR* value) {
  if (!value) return E_POINTER;
  *value = nullptr;
  Control* control = nullptr;
  const HRESULT resolved = Resolve(child, &control);
  if (FAILED(resolved)) return resolved;
  if (!control) return S_FALSE;
  return ReturnText(control->GetAccessibleValue(), value);
}

HRESULT WindowAccessible::get_accDescription(VARIANT child, BSTR* description) {
  if (!description) return E_POINTER;
  *description = nullptr;
  Control* control = nullptr;
  const HRESULT resolved = Resolve(child, &control);
  if (FAILED(resolved)) return resolved;
  // A tooltip that is not already the name says more about the control.
  if (!control || control->GetToolTipText() == NameOf(control)) return S_FALSE;
  return ReturnText(control->GetToolTipText(), description);
}

HRESULT WindowAccessible::get_accRole(VARIANT child, VARIANT* role) {
  if (!role) return E_POINTER;
  ::VariantInit(role);
  Control* control = nullptr;
  const HRESULT resolved = Resolve(child, &control);
  if (FAILED(resolved)) return resolved;
  const int own = control ? control->GetAccessibleRole() : window_->GetAccessibleClientRole();
  SetChild(role, own != kRoleNone ? PlatformRole(own) : ROLE_SYSTEM_CLIENT);
  return S_OK;
}

HRESULT WindowAccessible::get_accState(VARIANT child, VARIANT* state) {
  if (!state) return E_POINTER;
  ::VariantInit(state);
  Control* control = nullptr;
  const HRESULT resolved = Resolve(child, &control);
  if (FAILED(resolved)) return resolved;
  LONG bits = 0;
  if (!control) {
    bits = STATE_SYSTEM_FOCUSABLE;
    if (::GetFocus() == window_->GetHWND()) bits |= STATE_SYSTEM_FOCUSED;
    if (!::IsWindowVisible(window_->GetHWND())) bits |= STATE_SYSTEM_INVISIBLE;
  } else {
    const int role = control->GetAccessibleRole();
    if (!control->IsVisible()) bits |= STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN;
    if (!control->IsEnabled()) bits |= STATE_SYSTEM_UNAVAILABLE;
    if (control->IsTabStop()) bits |= STATE_SYSTEM_FOCUSABLE;
    if (window_->GetFocus() == control) bits |= STATE_SYSTEM_FOCUSED;
    if (role == kRoleListItem) {
      // The highlighted item is the list's selection and, while the list has the keyboard,
      // where the keyboard is.
      bits |= STATE_SYSTEM_SELECTABLE | STATE_SYSTEM_FOCUSABLE;
      if (control->IsAccessibleChecked()) {
        bits |= STATE_SYSTEM_SELECTED;
        if (window_->GetAccessibleClientRole() == kRoleList && ::GetFocus() == window_->GetHWND()) {
          bits |= STATE_SYSTEM_FOCUSED;
        }
      }
    } else if (control->IsAccessibleChecked()) {
      bits |= STATE_SYSTEM_CHECKED;
    }
    if (control->IsDefaultButton()) bits |= STATE_SYSTEM_DEFAULT;
    if (control->GetState() == kControlStatePushed) bits |= STATE_SYSTEM_PRESSED;
    if (role == kRoleLink) bits |= STATE_SYSTEM_LINKED;
    if (role == kRoleStaticText || role == kRoleProgressBar) bits |= STATE_SYSTEM_READONLY;
  }
  SetChild(state, bits);
  return S_OK;
}

HRESULT WindowAccessible::get_accHelp(VARIANT, BSTR* help) {
  if (!help) return E_POINTER;
  *help = nullptr;
  return S_FALSE;
}

HRESULT WindowAccessible::get_accHelpTopic(BSTR* file, VARIANT, LONG* topic) {
  if (file) *file = nullptr;
  if (topic) *topic = 0;
  return S_FALSE;
}

HRESULT WindowAccessible::get_accKeyboardShortcut(VARIANT, BSTR* shortcut) {
  if (!shortcut) return E_POINTER;
  *shortcut = nullptr;
  return S_FALSE;
}

HRESULT WindowAccessible::get_accFocus(VARIANT* child) {
  if (!child) return E_POINTER;
  ::VariantInit(child);
  if (!window_ || !window_->GetHWND()) return RPC_E_DISCONNECTED;
  const std::vector<Control*> controls = window_->GetAccessibleControls();
  const auto found = std::find(controls.begin(), controls.end(), window_->GetFocus());
  if (found != controls.end()) {
    SetChild(child, static_cast<LONG>(found - controls.begin()) + 1);
    return S_OK;
  }
  if (::GetFocus() != window_->GetHWND()) return S_FALSE;
  // A list's keyboard is on its highlighted item.
  const LONG selected =
      window_->GetAccessibleClientRole() == kRoleList ? SelectedItem(controls) : 0;
  SetChild(child, selected > 0 ? selected : CHILDID_SELF);
  return S_OK;
}

LONG WindowAccessible::SelectedItem(const std::vector<Control*>& controls) {
  for (size_t i = 0; i < controls.size(); ++i) {
    if (controls[i]->GetAccessibleRole() == kRoleListItem && controls[i]->IsAccessibleChecked()) {
      return static_cast<LONG>(i) + 1;
    }
  }
  return 0;
}

HRESULT WindowAccessible::get_accSelection(VARIANT* children) {
  if (!children) return E_POINTER;
  ::VariantInit(children);
  if (!window_ || !window_->GetHWND()) return RPC_E_DISCONNECTED;
  const LONG selected = SelectedItem(window_->GetAccessibleControls());
  if (selected == 0) return S_FALSE;
  SetChild(children, selected);
  return S_OK;
}

HRESULT WindowAccessible::get_accDefaultAction(VARIANT child, BSTR* action) {
  if (!action) return E_POINTER;
  *action = nullptr;
  Control* control = nullptr;
  const HRESULT resolved = Resolve(child, &control);
  if (FAILED(resolved)) return resolved;
  if (!control) return S_FALSE;
  switch (control->GetAccessibleRole()) {
    case kRolePushButton:
      return ReturnText(L"Press", action);
    case kRoleCheckButton:
      return ReturnText(control->IsAccessibleChecked() ? L"Uncheck" : L"Check", action);
    case kRoleRadioButton:
    case kRoleListItem:
      return ReturnText(L"Select", action);
    case kRoleComboBox:
      return ReturnText(L"Open", action);
    case kRoleLink:
      return ReturnText(L"Jump", action);
    case kRoleEditableText:
      return ReturnText(L"Focus", action);
    default:
      return S_FALSE;
  }
}

HRESULT WindowAccessible::accSelect(LONG flags, VARIANT child) {
  Control* control = nullptr;
  const HRESULT resolved = Resolve(child, &control);
  if (FAILED(resolved)) return resolved;
  if (!(flags & SELFLAG_TAKEFOCUS)) return DISP_E_MEMBERNOTFOUND;
  if (!control) {
    ::SetFocus(window_->GetHWND());
    return S_OK;
  }
  if (!control->IsTabStop()) return S_FALSE;
  window_->SetFocusControl(control);
  return window_->GetFocus() == control ? S_OK : S_FALSE;
}

HRESULT WindowAccessible::accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                      VARIANT child) {
  if (!left || !top || !width || !height) return E_POINTER;
  *left = *top = *width = *height = 0;
  Control* control = nullptr;
  const HRESULT resolved = Resolve(child, &control);
  if (FAILED(resolved)) return resolved;
  RECT rect = {};
  if (control) {
    rect = control->GetPos();
  } else {
    ::GetClientRect(window_->GetHWND(), &rect);
  }
  ::MapWindowPoints(window_->GetHWND(), HWND_DESKTOP, reinterpret_cast<POINT*>(&rect), 2);
  *left = rect.left;
  *top = rect.top;
  *width = rect.right - rect.left;
  *height = rect.bottom - rect.top;
  return S_OK;
}

HRESULT WindowAccessible::accNavigate(LONG direction, VARIANT start, VARIANT* end) {
  if (!end) return E_POINTER;
  ::VariantInit(end);
  Control* control = nullptr;
  const HRESULT resolved = Resolve(start, &control);
  if (FAILED(resolved)) return resolved;
  const std::vector<Control*> controls = window_->GetAccessibleControls();
  const LONG count = static_cast<LONG>(controls.size());
  LONG at = 0;
  LONG step = 0;
  if (!control && (direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD)) {
    at = direction == NAVDIR_FIRSTCHILD ? 0 : count + 1;
    step = direction == NAVDIR_FIRSTCHILD ? 1 : -1;
  } else if (control &&
             (direction == NAVDIR_NEXT || direction == NAVDIR_DOWN || direction == NAVDIR_RIGHT)) {
    at = start.lVal;
    step = 1;
  } else if (control &&
             (direction == NAVDIR_PREVIOUS || direction == NAVDIR_UP || direction == NAVDIR_LEFT)) {
    at = start.lVal;
    step = -1;
  } else {
    return control ? S_FALSE : DISP_E_MEMBERNOTFOUND;
  }
  // Only what shows is a sibling to move to.
  for (at += step; at >= 1 && at <= count; at += step) {
    if (controls[static_cast<size_t>(at) - 1]->IsVisible()) {
      SetChild(end, at);
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT WindowAccessible::accHitTest(LONG x, LONG y, VARIANT* child) {
  if (!child) return E_POINTER;
  ::VariantInit(child);
  if (!window_ || !window_->GetHWND()) return RPC_E_DISCONNECTED;
  POINT point = {x, y};
  ::ScreenToClient(window_->GetHWND(), &point);
  RECT client = {};
  ::GetClientRect(window_->GetHWND(), &client);
  if (!::PtInRect(&client, point)) return S_FALSE;
  const std::vector<Control*> controls = window_->GetAccessibleControls();
  for (Control* at = window_->FindControl(point); at; at = at->GetParent()) {
    const auto found = std::find(controls.begin(), controls.end(), at);
    if (found != controls.end()) {
      SetChild(child, static_cast<LONG>(found - controls.begin()) + 1);
      return S_OK;
    }
  }
  SetChild(child, CHILDID_SELF);
  return S_OK;
}

HRESULT WindowAccessible::accDoDefaultAction(VARIANT child) {
  Control* control = nullptr;
  const HRESULT resolved = Resolve(child, &control);
  if (FAILED(resolved)) return resolved;
  if (!control) return DISP_E_MEMBERNOTFOUND;
  const int role = control->GetAccessibleRole();
  if (role == kRoleNone || role == kRoleStaticText || role == kRoleProgressBar) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (!control->IsVisible() || !control->IsEnabled()) return E_FAIL;
  // The action may ask a question or switch pages; it runs after the reader's call returns.
  return ::PostMessageW(window_->GetHWND(), Window::kAccessibleActionMessage,
                        static_cast<WPARAM>(child.lVal), 0)
             ? S_OK
             : E_FAIL;
}

HRESULT WindowAccessible::put_accName(VARIANT, BSTR) {
  return E_NOTIMPL;
}
HRESULT WindowAccessible::put_accValue(VARIANT, BSTR) {
  return E_NOTIMPL;
}

// --- The window's side ------------------------------------------------------------------------

int Window::GetAccessibleClientRole() const {
  return kRoleNone;
}

std::vector<Control*> Window::GetAccessibleControls() const {
  std::vector<Control*> controls;
  if (!root_) return controls;
  auto visit = [&controls](Control* control) {
    if (control->GetAccessibleRole() != kRoleNone) controls.push_back(control);
  };
  if (root_->IsBox()) {
    static_cast<Box*>(root_.get())->ForEachControl(visit);
  } else {
    visit(root_.get());
  }
  return controls;
}

void Window::NotifyAccessible(DWORD event, Control* control) {
  if (!hwnd_) return;
  LONG child = CHILDID_SELF;
  if (control) {
    const std::vector<Control*> controls = GetAccessibleControls();
    const auto found = std::find(controls.begin(), controls.end(), control);
    if (found == controls.end()) return;
    child = static_cast<LONG>(found - controls.begin()) + 1;
  }
  ::NotifyWinEvent(event, hwnd_, OBJID_CLIENT, child);
}

LRESULT Window::OnGetObject(WPARAM wparam, LPARAM lparam) {
  // The object id travels in the low 32 bits; wider systems may extend it either way.
  const LONG object_id = static_cast<LONG>(static_cast<DWORD>(lparam));
  const auto lresult_from_object = Api().lresult_from_object;
  if (object_id != OBJID_CLIENT || !lresult_from_object || !hwnd_) {
    return ::DefWindowProcW(hwnd_, WM_GETOBJECT, wparam, lparam);
  }
  if (!accessible_) accessible_ = nbase::ComPtr<WindowAccessible>(new WindowAccessible(this));
  const LRESULT result = lresult_from_object(nbase::kIidAccessible, wparam,
                                             static_cast<IAccessible*>(accessible_.get()));
  // Failing (COM not started on this thread, say) leaves the system's own answer.
  if (FAILED(static_cast<HRESULT>(result))) {
    return ::DefWindowProcW(hwnd_, WM_GETOBJECT, wparam, lparam);
  }
  return result;
}

void Window::OnAccessibleAction(WPARAM child_id) {
  const std::vector<Control*> controls = GetAccessibleControls();
  if (child_id < 1 || child_id > controls.size()) return;
  Control* control = controls[child_id - 1];
  if (!control->IsVisible() || !control->IsEnabled()) return;
  if (control->GetAccessibleRole() == kRoleEditableText) {
    SetFocusControl(control);
    return;
  }
  control->Activate();
}

void Window::DetachAccessible() {
  if (!accessible_) return;
  accessible_->Disconnect();
  accessible_.reset();
}

}  // namespace ui
