// The shipped skin package: what its layouts name is in the archive and decodes, the layouts
// give the setup window its controls, both string tables are complete, and every page looks
// right at 100 % and 150 % (screenshots are written to the build folder).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/StringTable.h"
#include "base/StringUtil.h"
#include "base/UniqueResource.h"
#include "tests/resources/Screenshot.h"
#include "tests/ui/RepaintCheck.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/controls/CheckBox.h"
#include "ui/controls/Combo.h"
#include "ui/controls/Label.h"
#include "ui/controls/ListContainerElement.h"
#include "ui/controls/Progress.h"
#include "ui/controls/RichEdit.h"
#include "ui/core/Box.h"
#include "ui/core/DpiManager.h"
#include "ui/core/GlobalManager.h"
#include "ui/core/Markup.h"
#include "ui/core/WindowImplBase.h"
#include "ui/layouts/TabBox.h"
#include "ui/render/Image.h"
#include "ui/render/RenderContext.h"

namespace {

const wchar_t kRoot[] = L"resources\\";
const wchar_t kTheme[] = L"resources\\themes\\default\\";
const wchar_t kForm[] = L"resources\\themes\\default\\form\\";
const wchar_t* const kLanguages[] = {L"English", L"German"};

// Makes `language`'s string table from the package the one in use; false when it is missing.
bool UsePackagedLanguage(const wchar_t* language) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  nbase::UniqueGlobalMemory block(
      global.GetZipData(std::wstring(L"resources\\lang\\") + language + L"\\gdstrings.ini"));
  if (!block) return false;
  global.LoadLanguageFromMemory(block.get());
  return true;
}

// (Re)starts the resource service over this program's own skin resource at a DPI scale.
void StartSkin(int scale) {
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  global.Shutdown();
  ASSERT_TRUE(global.OpenResZip(133, L"ZIP", std::string()));
  ui::DpiManager& dpi = ui::DpiManager::Instance();
  ASSERT_TRUE(dpi.AdaptDPI());
  dpi.SetScale(scale);
  global.Startup(kRoot, ui::CreateControlCallback(), false, L"themes\\default", L"lang\\English");
}

std::string ReadMember(const std::wstring& path) {
  nbase::UniqueGlobalMemory block(ui::GlobalManager::Instance().GetZipData(path));
  if (!block) return std::string();
  nbase::ScopedGlobalLock lock(block.get());
  return std::string(static_cast<const char*>(lock.data()), ::GlobalSize(block.get()));
}

struct Document {
  ui::Markup markup;
  bool loaded = false;
};

void LoadDocument(const std::wstring& path, Document* doc) {
  const std::string bytes = ReadMember(path);
  ASSERT_FALSE(bytes.empty()) << path;
  doc->loaded = doc->markup.LoadFromMem(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
  ASSERT_TRUE(doc->loaded) << path << ": " << doc->markup.GetLastErrorMessage() << " at "
                           << doc->markup.GetLastErrorLocation();
}

// Every element below `node`, depth first.
void ForEachElement(const ui::MarkupNode& node,
                    const std::function<void(const ui::MarkupNode&)>& fn) {
  for (ui::MarkupNode child = node.GetChild(); child.IsValid(); child = child.GetSibling()) {
    fn(child);
    ForEachElement(child, fn);
  }
}

// The picture an image attribute names: the file='…' of an image string, or the bare value.
std::wstring ImageFile(const std::wstring& value) {
  for (const wchar_t* key : {L"file='", L"res='"}) {
    const size_t at = value.find(key);
    if (at == std::wstring::npos) continue;
    const size_t begin = at + std::wcslen(key);
    return value.substr(begin, value.find(L'\'', begin) - begin);
  }
  return value.find(L'=') == std::wstring::npos ? value : std::wstring();
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(SkinPackage, LayoutsParseAndEveryNameTheyUseIsDeclared) {
  StartSkin(100);
  Document global_doc;
  Document form_doc;
  LoadDocument(std::wstring(kTheme) + L"global.xml", &global_doc);
  LoadDocument(std::wstring(kForm) + L"setup_form.xml", &form_doc);
  ASSERT_TRUE(global_doc.loaded && form_doc.loaded);

  std::set<std::wstring> fonts, colors, classes;
  int default_fonts = 0;
  const ui::MarkupNode global_root = global_doc.markup.GetRoot();
  EXPECT_STREQ(global_root.GetName(), L"Global");
  ForEachElement(global_root, [&](const ui::MarkupNode& node) {
    const std::wstring element = node.GetName();
    const wchar_t* name = node.GetAttributeValue(element == L"Font" ? L"id" : L"name");
    ASSERT_NE(name, nullptr) << element;
    std::set<std::wstring>* table = element == L"Font"        ? &fonts
                                    : element == L"TextColor" ? &colors
                                    : element == L"Class"     ? &classes
                                                              : nullptr;
    ASSERT_NE(table, nullptr) << element;
    EXPECT_TRUE(table->insert(name).second) << "declared twice: " << name;
    const wchar_t* is_default = node.GetAttributeValue(L"default");
    if (is_default && std::wstring(is_default) == L"true") {
      ++default_fonts;
      EXPECT_STREQ(name, L"system_12");
    }
  });
  EXPECT_EQ(fonts.size(), 32u);
  EXPECT_EQ(colors.size(), 45u);
  EXPECT_EQ(classes.size(), 53u);
  EXPECT_EQ(default_fonts, 1);
  for (const wchar_t* used :
       {L"btn_start", L"btn_path", L"btn_global_line", L"btn_wnd_min", L"btn_wnd_close",
        L"checkbox_custom", L"splitline_hor_level1", L"progress_blue", L"listitem"}) {
    EXPECT_EQ(classes.count(used), 1u) << used;
  }

  // A misspelt font, colour or class name fails silently at run time (default font,
  // transparent colour, no style), so every reference is checked against the declarations.
  auto check_references = [&](const ui::MarkupNode& node) {
    for (int i = 0; i < node.GetAttributeCount(); ++i) {
      const std::wstring name = node.GetAttributeName(i);
      const std::wstring value = node.GetAttributeValue(i);
      if (name == L"font") {
        EXPECT_EQ(fonts.count(value), 1u) << "font " << value;
      } else if (EndsWith(name, L"color") && name != L"selectedcolor" && !value.empty()) {
        EXPECT_EQ(colors.count(value), 1u) << name << "=" << value;
      } else if (std::wstring(node.GetName()) == L"Class") {
        // A class is stored as one attribute string whose values end at the next quote.
        EXPECT_EQ(value.find(L'"'), std::wstring::npos)
            << name << " of class " << node.GetAttributeValue(L"name");
      } else if (name == L"class") {
        for (const std::wstring& one : nbase::Split(value, L" ")) {
          EXPECT_EQ(classes.count(one), 1u) << "class " << one;
        }
      }
    }
  };
  ForEachElement(global_root, check_references);
  ForEachElement(form_doc.markup.GetRoot(), check_references);
  for (const wchar_t* own : {L"defaultfontcolor", L"disabledfontcolor", L"linkfontcolor",
                             L"linkhoverfontcolor", L"selectedcolor", L"focuscolor"}) {
    const wchar_t* value = global_root.GetAttributeValue(own);
    ASSERT_NE(value, nullptr) << own;
    EXPECT_EQ(colors.count(value), 1u) << own;
  }
}

// Calls `visit` with each *image attribute of the skin's two layouts: its value and the file it
// names (empty when it names none). Call through ASSERT_NO_FATAL_FAILURE.
void ForEachPictureAttribute(
    const std::function<void(const std::wstring& value, const std::wstring& file)>& visit) {
  Document global_doc;
  Document form_doc;
  LoadDocument(std::wstring(kTheme) + L"global.xml", &global_doc);
  LoadDocument(std::wstring(kForm) + L"setup_form.xml", &form_doc);
  ASSERT_TRUE(global_doc.loaded && form_doc.loaded);
  auto collect = [&](const ui::MarkupNode& node) {
    for (int i = 0; i < node.GetAttributeCount(); ++i) {
      if (!EndsWith(node.GetAttributeName(i), L"image")) continue;
      visit(node.GetAttributeValue(i), ImageFile(node.GetAttributeValue(i)));
    }
  };
  ForEachElement(global_doc.markup.GetRoot(), collect);
  ForEachElement(form_doc.markup.GetRoot(), collect);
}

TEST(SkinPackage, EveryPictureTheSkinNamesIsPackedAndDecodes) {
  StartSkin(100);
  // Image paths are relative to the folder of the window that uses them: the setup form's.
  std::set<std::wstring> files = {ImageFile(ui::WindowSettings().shadow_image)};
  ASSERT_NO_FATAL_FAILURE(
      ForEachPictureAttribute([&](const std::wstring& value, const std::wstring& file) {
        EXPECT_FALSE(file.empty()) << value;
        if (!file.empty()) files.insert(file);
      }));
  // The setup window sets these in code, by slideshow index; they are drawn at 200 % only.
  for (const wchar_t* picture :
       {L"slide/1@200.jpg", L"slide/2@200.jpg", L"slide/3@200.jpg", L"end@200.jpg"}) {
    files.insert(std::wstring(L"bkimage/") + picture);
  }
  EXPECT_GE(files.size(), 20u);

  SIZE slide_size = {};
  for (const std::wstring& file : files) {
    const std::wstring path = std::wstring(kForm) + file;
    nbase::UniqueGlobalMemory block(ui::GlobalManager::Instance().GetZipData(path));
    ASSERT_TRUE(block) << "missing from the archive: " << path;
    const std::unique_ptr<ui::ImageInfo> image = ui::ImageInfo::LoadFromMemory(block.get(), path);
    ASSERT_TRUE(image) << "does not decode: " << path;
    EXPECT_GT(image->width, 0);
    if (EndsWith(file, L"/1@200.jpg")) slide_size = {image->width, image->height};
  }
  // Every slide has one size, twice the slideshow's, so it never jumps or stretches.
  EXPECT_EQ(slide_size.cx, 1280);
  EXPECT_EQ(slide_size.cy, 500);
  for (int index = 2; index <= 3; ++index) {
    const std::wstring path = nbase::StringPrintf(L"%lsbkimage/slide/%d@200.jpg", kForm, index);
    nbase::UniqueGlobalMemory block(ui::GlobalManager::Instance().GetZipData(path));
    ASSERT_TRUE(block) << path;
    const auto image = ui::ImageInfo::LoadFromMemory(block.get(), path);
    ASSERT_TRUE(image) << path;
    EXPECT_EQ(image->width, slide_size.cx) << path;
    EXPECT_EQ(image->height, slide_size.cy) << path;
  }
}

// Every picture is drawn once at 200 % (the window's parts also at 100 %, where a reduction
// would blur their one-pixel lines); the window gets each other scale by reducing the 200 %
// drawing, to exactly the size the scale asks for, so nine-slice corners land on whole pixels.
TEST(SkinPackage, PicturesAreDrawnAtTwiceTheSizeAndReducedForOtherScales) {
  StartSkin(100);
  std::set<std::wstring> files = {ImageFile(ui::WindowSettings().shadow_image)};
  ASSERT_NO_FATAL_FAILURE(
      ForEachPictureAttribute([&](const std::wstring&, const std::wstring& file) {
        if (EndsWith(file, L".png")) files.insert(file);
      }));
  EXPECT_GE(files.size(), 15u);
  auto decode = [](const std::wstring& path) {
    nbase::UniqueGlobalMemory block(ui::GlobalManager::Instance().GetZipData(path));
    return block ? ui::ImageInfo::LoadFromMemory(block.get(), path) : nullptr;
  };
  auto with_scale = [](const std::wstring& path, const wchar_t* scale) {
    const size_t dot = path.find_last_of(L'.');
    return path.substr(0, dot) + scale + path.substr(dot);
  };
  std::vector<std::pair<std::wstring, SIZE>> plain_sizes;
  for (const std::wstring& file : files) {
    const std::wstring path = std::wstring(kForm) + file;
    const auto plain = decode(path);
    const auto larger = decode(with_scale(path, L"@200"));
    ASSERT_TRUE(plain && larger) << nbase::UTF16ToUTF8(path);
    EXPECT_EQ(larger->width, plain->width * 2) << nbase::UTF16ToUTF8(path);
    EXPECT_EQ(larger->height, plain->height * 2) << nbase::UTF16ToUTF8(path);
    EXPECT_FALSE(decode(with_scale(path, L"@150")))
        << "reduced from @200 instead: " << nbase::UTF16ToUTF8(path);
    plain_sizes.push_back({path, {plain->width, plain->height}});
  }
  // The slides and the end picture: one language-neutral set, at 200 % only.
  for (const wchar_t* picture : {L"slide/1", L"slide/2", L"slide/3", L"end"}) {
    const std::wstring stem = std::wstring(kForm) + L"bkimage/" + picture;
    const auto larger = decode(stem + L"@200.jpg");
    ASSERT_TRUE(larger) << nbase::UTF16ToUTF8(stem);
    EXPECT_FALSE(decode(stem + L".jpg")) << nbase::UTF16ToUTF8(stem);
    plain_sizes.push_back({stem + L".jpg", {larger->width / 2, larger->height / 2}});
  }
  for (const wchar_t* language : kLanguages) {
    EXPECT_FALSE(decode(std::wstring(kForm) + L"bkimage/" + language + L"/1@200.jpg"))
        << "pictures per language are gone: their words are texts";
  }
  for (int scale : {100, 150}) {
    StartSkin(scale);
    for (const auto& [path, plain] : plain_sizes) {
      const std::shared_ptr<ui::ImageInfo> shown = ui::GlobalManager::Instance().GetImage(path);
      ASSERT_TRUE(shown) << scale << " " << nbase::UTF16ToUTF8(path);
      EXPECT_EQ(shown->scale_percent, scale) << nbase::UTF16ToUTF8(path);
      EXPECT_EQ(shown->width, plain.cx * scale / 100) << scale << " " << nbase::UTF16ToUTF8(path);
      EXPECT_EQ(shown->height, plain.cy * scale / 100) << scale << " " << nbase::UTF16ToUTF8(path);
    }
  }
  StartSkin(100);
}

TEST(SkinPackage, StringTablesAreCompleteAndCarryThisBuildsSettings) {
  StartSkin(100);
  const wchar_t* const keys[] = {L"STRID_HOMEPAGE_INSTALL",
                                 L"STRID_HOMEPAGE_LINK_LEFT",
                                 L"STRID_HOMEPAGE_LINK_CENTER",
                                 L"STRID_HOMEPAGE_LINK_RIGHT",
                                 L"STRID_HOMEPAGE_CUSTOM",
                                 L"STRID_HOMEPAGE_LANGUAGE_OPTIONS",
                                 L"STRID_HOMEPAGE_INSTALL_PATH",
                                 L"STRID_HOMEPAGE_INVALID_PATH",
                                 L"STRID_DOWNLOADPAGE_INSTALLING",
                                 L"STRID_DOWNLOADPAGE_INSTALL_TIP",
                                 L"STRID_DOWNLOADPAGE_HIDE",
                                 L"STRID_DOWNLOADPAGE_START",
                                 L"STRID_SLIDE_1_TITLE",
                                 L"STRID_SLIDE_1_TEXT",
                                 L"STRID_SLIDE_2_TITLE",
                                 L"STRID_SLIDE_2_TEXT",
                                 L"STRID_SLIDE_3_TITLE",
                                 L"STRID_SLIDE_3_TEXT",
                                 L"STRID_ENDPAGE_TITLE",
                                 L"STRID_ENDPAGE_TEXT",
                                 L"STRID_BOX_QUIT",
                                 L"STRID_BOX_DISK_NOT_ENOUGH",
                                 L"STRID_BOX_NETWORK_ERROR",
                                 L"STRID_BOX_UNKOWN_ERROR",
                                 L"STRID_BOX_APP_RUNNING",
                                 L"STRID_BOX_QUIT_FINISHING",
                                 L"STRID_BOX_ADMIN_NEEDED",
                                 L"STRID_BOX_INSTALL_FAILED",
                                 L"URLID_DOWN",
                                 L"URLID_DOWN_X64",
                                 L"URLID_SERVICE",
                                 L"URLID_INSTALL"};
  auto load = [](const std::wstring& path, nbase::StringTable* table) {
    nbase::UniqueGlobalMemory block(ui::GlobalManager::Instance().GetZipData(path));
    ASSERT_TRUE(block) << path;
    ASSERT_TRUE(table->LoadFromMemory(block.get())) << path;
  };
  // "demo" stands for the hash of the demo package of this build tree.
  auto expect_hash = [](const std::wstring& value, const std::wstring& configured) {
    if (configured != L"demo") {
      EXPECT_EQ(value, configured);
      return;
    }
    EXPECT_EQ(value.size(), 64u) << value;
    for (wchar_t c : value) EXPECT_TRUE(std::iswdigit(c) || (c >= L'a' && c <= L'f')) << value;
  };

  std::wstring english_install;
  for (const wchar_t* language : kLanguages) {
    SCOPED_TRACE(language);
    nbase::StringTable table;
    load(std::wstring(kRoot) + L"lang\\" + language + L"\\gdstrings.ini", &table);
    for (const wchar_t* key : keys) EXPECT_FALSE(table.GetValue(key).empty()) << key;
    // The two texts the controller fills in must keep their placeholder.
    EXPECT_NE(table.GetValue(L"STRID_BOX_DISK_NOT_ENOUGH").find(L"XX"), std::wstring::npos);
    EXPECT_NE(table.GetValue(L"STRID_BOX_APP_RUNNING").find(L"XX"), std::wstring::npos);
    EXPECT_NE(table.GetValue(L"STRID_BOX_ADMIN_NEEDED").find(L"XX"), std::wstring::npos);
    // The failure's code and the log file's path.
    EXPECT_NE(table.GetValue(L"STRID_BOX_INSTALL_FAILED").find(L"XX"), std::wstring::npos);
    EXPECT_NE(table.GetValue(L"STRID_BOX_INSTALL_FAILED").find(L"YY"), std::wstring::npos);
    EXPECT_EQ(table.GetValue(L"URLID_DOWN"), nbase::UTF8ToUTF16(SKIN_URL_DOWN));
    EXPECT_EQ(table.GetValue(L"URLID_DOWN_X64"), nbase::UTF8ToUTF16(SKIN_URL_DOWN_X64));
    expect_hash(table.GetValue(L"URLID_DOWN_SHA256"), nbase::UTF8ToUTF16(SKIN_URL_DOWN_SHA256));
    expect_hash(table.GetValue(L"URLID_DOWN_X64_SHA256"),
                nbase::UTF8ToUTF16(SKIN_URL_DOWN_X64_SHA256));
    const bool german = std::wstring(language) == L"German";
    EXPECT_EQ(table.GetValue(L"URLID_SERVICE"),
              nbase::UTF8ToUTF16(german ? SKIN_URL_SERVICE_DE : SKIN_URL_SERVICE_EN));
    EXPECT_EQ(table.GetValue(L"URLID_INSTALL"),
              nbase::UTF8ToUTF16(german ? SKIN_URL_INSTALL_DE : SKIN_URL_INSTALL_EN));
    if (german) {
      EXPECT_NE(table.GetValue(L"STRID_HOMEPAGE_INSTALL"), english_install) << "not translated";
    } else {
      english_install = table.GetValue(L"STRID_HOMEPAGE_INSTALL");
    }
  }

  nbase::StringTable product;
  load(std::wstring(kRoot) + L"product.ini", &product);
  EXPECT_EQ(product.GetValue(L"BRAND_NAME"), L"Nolt");
  EXPECT_EQ(product.GetValue(L"PRODUCT_NAME"), L"Clipmint");
  EXPECT_EQ(product.GetValue(L"PROCESS_NAME"), L"Minteo.exe");
  EXPECT_FALSE(product.GetValue(L"GA_EC").empty());
  EXPECT_FALSE(product.GetValue(L"GA_EN").empty());
  EXPECT_EQ(product.GetValue(L"GA_ENDPOINT"), nbase::UTF8ToUTF16(SKIN_GA_ENDPOINT));
  EXPECT_EQ(product.GetValue(L"GA_MEASUREMENT_ID"), nbase::UTF8ToUTF16(SKIN_GA_MEASUREMENT_ID));
  EXPECT_EQ(product.GetValue(L"GA_API_SECRET"), nbase::UTF8ToUTF16(SKIN_GA_API_SECRET));
  // The publisher pins the package is checked against.
  EXPECT_EQ(product.GetValue(L"PUBLISHER_NAME"), SKIN_PUBLISHER_NAME);
  EXPECT_EQ(product.GetValue(L"PUBLISHER_ROOT_SHA256"),
            nbase::UTF8ToUTF16(SKIN_PUBLISHER_ROOT_SHA256));
}

// The window shows this icon in its caption and on the taskbar, at both icon sizes.
TEST(SkinPackage, IconGroupLoadsAtTheSystemSizes) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  ASSERT_NE(::FindResourceW(module, MAKEINTRESOURCEW(107), RT_GROUP_ICON), nullptr);
  for (int metric : {SM_CXICON, SM_CXSMICON}) {
    const int size = ::GetSystemMetrics(metric);
    HANDLE icon = ::LoadImageW(module, MAKEINTRESOURCEW(107), IMAGE_ICON, size, size, 0);
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(static_cast<HICON>(icon), &info));
    BITMAP bitmap = {};
    ::GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size);
    if (info.hbmColor) ::DeleteObject(info.hbmColor);
    if (info.hbmMask) ::DeleteObject(info.hbmMask);
    ::DestroyIcon(static_cast<HICON>(icon));
  }
}

// The setup window's layout in a window of its own, dressed the way the setup window dresses it.
class SkinWindow : public ui::WindowImplBase {
 public:
  std::wstring GetSkinFile() override { return L"setup_form.xml"; }
  std::wstring GetSkinFolder() override { return L"form"; }

  // The pointer input the window has taken so far, for tests that wait for their own input.
  POINT last_mouse_ = {-1, -1};
  int button_ups_ = 0;

 protected:
  std::wstring GetWindowClassName() const override { return L"SkinTestWindow"; }
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override {
    if (message == WM_MOUSEMOVE || message == WM_LBUTTONDOWN || message == WM_LBUTTONUP) {
      last_mouse_ = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
    } else if (message == WM_NCMOUSEMOVE) {
      // Over the caption the moves are non-client ones, in screen coordinates.
      last_mouse_ = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
      ::ScreenToClient(GetHWND(), &last_mouse_);
    }
    const LRESULT result = ui::WindowImplBase::HandleMessage(message, wparam, lparam);
    if (message == WM_LBUTTONUP) ++button_ups_;
    return result;
  }
};

class SkinWindowTest : public ::testing::Test {
 protected:
  void Open(int scale) {
    Close();
    StartSkin(scale);
    window_ = std::make_unique<SkinWindow>();
    hwnd_ = window_->Create(nullptr, L"Clipmint", 0x00CE0000, 0, true, {60, 60, 60, 60});
    ASSERT_NE(hwnd_, nullptr);
    window_->ShowWindow();
    ASSERT_TRUE(WaitForPaint()) << "the window never painted";
    // The steps below dress these controls; without one of them there is nothing to look at.
    for (const wchar_t* name :
         {L"switch", L"minbtn", L"closebtn", L"btn_install", L"checkbox_custom", L"box_custom",
          L"combo_language", L"edit_path", L"download_bk", L"progress", L"label_progress",
          L"end_bk", L"box_end_bk", L"btn_start", L"control_space"}) {
      ASSERT_NE(window_->FindControl(name), nullptr) << nbase::UTF16ToUTF8(name);
    }
  }
  void Close() {
    if (hwnd_ && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
    hwnd_ = nullptr;
    window_.reset();
  }
  void TearDown() override { Close(); }

  // Runs the loop until the queue is empty, so every posted layout and paint has happened.
  bool WaitForPaint() {
    return ui_test::PumpUntil(
        [&] {
          MSG msg;
          ui::IRenderContext* context = window_->GetRenderContext();
          return context && context->GetBits() && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        },
        5000);
  }

  template <typename T>
  T* Find(const wchar_t* name) {
    return dynamic_cast<T*>(window_->FindControl(name));
  }
  int Scaled(int value) const { return ui::DpiManager::Instance().ScaleInt(value); }

  // What the controller does once the window exists: texts come from the text ids of the
  // layout; the pictures, the language list and the folder are set here.
  void Dress() {
    Find<ui::Control>(L"end_bk")->SetAttribute(L"bkimage", L"bkimage/end.jpg");
    Find<ui::Control>(L"box_end_bk")->SetAttribute(L"bkimage", L"bkimage/end.jpg");
    ShowSlide(1);
    ui::Combo* combo = Find<ui::Combo>(L"combo_language");
    for (const wchar_t* display : {L"English", L"Deutsch"}) {
      auto* item = new ui::ListContainerElement();
      item->SetAttribute(L"class", L"listitem");
      item->SetFixedHeight(28);
      item->SetAttribute(L"bkcolor", L"white");
      item->SetAttribute(L"textpadding", L"6,0,6,0");
      item->SetText(display);
      combo->Add(item);
    }
    combo->SelectItem(0);
    auto* edit = Find<ui::RichEdit>(L"edit_path");
    edit->SetWordWrap(false);
    edit->SetText(L"C:\\Program Files\\Nolt\\Nolt Clipmint");
  }
  // The slideshow's picture and its words, as the setup window shows slide `index`.
  void ShowSlide(int index) {
    Find<ui::Control>(L"download_bk")
        ->SetAttribute(L"bkimage", nbase::StringPrintf(L"bkimage/slide/%d.jpg", index));
    ui::GlobalManager& global = ui::GlobalManager::Instance();
    Find<ui::Label>(L"label_slide_title")
        ->SetText(global.GetLanguageText(nbase::StringPrintf(L"STRID_SLIDE_%d_TITLE", index)));
    Find<ui::Label>(L"label_slide_text")
        ->SetText(global.GetLanguageText(nbase::StringPrintf(L"STRID_SLIDE_%d_TEXT", index)));
  }
  // After a language switch the setup window sets every text again; setting it is what
  // re-measures the auto-sized labels.
  void ApplyTexts() {
    const std::pair<const wchar_t*, const wchar_t*> texts[] = {
        {L"btn_install", L"STRID_HOMEPAGE_INSTALL"},
        {L"label_link_left", L"STRID_HOMEPAGE_LINK_LEFT"},
        {L"btn_link", L"STRID_HOMEPAGE_LINK_CENTER"},
        {L"label_link_right", L"STRID_HOMEPAGE_LINK_RIGHT"},
        {L"checkbox_custom", L"STRID_HOMEPAGE_CUSTOM"},
        {L"label_langauge", L"STRID_HOMEPAGE_LANGUAGE_OPTIONS"},
        {L"label_path", L"STRID_HOMEPAGE_INSTALL_PATH"},
        {L"label_error", L"STRID_HOMEPAGE_INVALID_PATH"},
        {L"label_installing", L"STRID_DOWNLOADPAGE_INSTALLING"},
        {L"label_tip", L"STRID_DOWNLOADPAGE_INSTALL_TIP"},
        {L"btn_hide", L"STRID_DOWNLOADPAGE_HIDE"},
        {L"btn_start", L"STRID_DOWNLOADPAGE_START"},
        {L"label_end_title", L"STRID_ENDPAGE_TITLE"},
        {L"label_end_text", L"STRID_ENDPAGE_TEXT"}};
    for (const auto& text : texts) {
      Find<ui::Label>(text.first)
          ->SetText(ui::GlobalManager::Instance().GetLanguageText(text.second));
    }
    const bool short_tail = Find<ui::Label>(L"label_link_right")->GetText().size() < 2;
    Find<ui::Control>(L"control_space")->SetFixedWidth(short_tail ? 1 : 3);
    ShowSlide(1);
  }
  void ShowCustomPanel(bool show) {
    Find<ui::CheckBox>(L"checkbox_custom")->Selected(show, false);
    Find<ui::Control>(L"switch")->SetFixedHeight(show ? 472 : 360);
    Find<ui::Control>(L"box_custom")->SetVisible(show);
    // As the setup window does: the window follows its content's height.
    const SIZE size = window_->GetRoot()->EstimateSize({99999, 99999});
    ASSERT_GT(size.cy, 0) << "the window cannot be fitted to its content";
    ::SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    window_->NeedUpdate();
  }
  void ShowPage(int index) {
    Find<ui::TabBox>(L"switch")->SelectItem(index);
    Find<ui::Control>(L"minbtn")->SetVisible(index == 0);
    Find<ui::Control>(L"closebtn")->SetVisible(index != 1);
  }

  // A pixel of the painted surface: premultiplied B, G, R, A.
  const BYTE* Pixel(int x, int y) {
    static const BYTE kOutside[4] = {};
    ui::IRenderContext* context = window_->GetRenderContext();
    const bool inside = x >= 0 && y >= 0 && x < context->GetWidth() && y < context->GetHeight();
    EXPECT_TRUE(inside) << x << "," << y << " is outside the window";
    if (!inside) return kOutside;
    return context->GetBits() + (static_cast<size_t>(y) * context->GetWidth() + x) * 4;
  }
  static bool Near(const BYTE* pixel, DWORD rgb, int tolerance = 12) {
    const int want[3] = {static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                         static_cast<int>((rgb >> 16) & 0xFF)};
    for (int c = 0; c < 3; ++c) {
      if (std::abs(pixel[c] - want[c]) > tolerance) return false;
    }
    return pixel[3] == 255;
  }
  static std::string Describe(const BYTE* pixel) {
    return nbase::StringPrintf("rgb(%d,%d,%d) alpha %d", pixel[2], pixel[1], pixel[0], pixel[3]);
  }
  void Screenshot(const std::wstring& name) {
    ui::IRenderContext* context = window_->GetRenderContext();
    const std::wstring path = skin_test::ScreenshotFolder() + name + L".png";
    EXPECT_TRUE(skin_test::SavePng(context->GetBits(), context->GetWidth(), context->GetHeight(),
                                   0xC9D1D9, path))
        << nbase::UTF16ToUTF8(path);
  }

  std::unique_ptr<SkinWindow> window_;
  HWND hwnd_ = nullptr;
};

TEST_F(SkinWindowTest, LayoutGivesTheSetupWindowItsControls) {
  ASSERT_NO_FATAL_FAILURE(Open(100));
  struct Expected {
    const wchar_t* name;
    const wchar_t* type;
  };
  const Expected controls[] = {
      {L"switch", L"TabBox"},
      {L"minbtn", L"Button"},
      {L"closebtn", L"Button"},
      {L"btn_install", L"Button"},
      {L"btn_link", L"Button"},
      {L"label_link_left", L"Label"},
      {L"control_space", L"Control"},
      {L"label_link_right", L"Label"},
      {L"checkbox_custom", L"CheckBox"},
      {L"box_custom", L"VBox"},
      {L"label_langauge", L"Label"},
      {L"combo_language", L"Combo"},
      {L"label_path", L"Label"},
      {L"edit_path", L"RichEdit"},
      {L"label_error", L"Label"},
      {L"download_bk", L"VBox"},
      {L"label_slide_title", L"Label"},
      {L"label_slide_text", L"Label"},
      {L"label_installing", L"Label"},
      {L"label_progress", L"Label"},
      {L"label_status", L"Label"},
      {L"progress", L"Progress"},
      {L"btn_hide", L"Button"},
      {L"label_tip", L"Label"},
      {L"end_bk", L"Control"},
      {L"box_end_bk", L"VBox"},
      {L"label_end_title", L"Label"},
      {L"label_end_text", L"Label"},
      {L"btn_start", L"Button"},
  };
  for (const Expected& expected : controls) {
    ui::Control* control = window_->FindControl(expected.name);
    ASSERT_NE(control, nullptr) << "missing: " << expected.name;
    EXPECT_EQ(control->GetType(), expected.type) << expected.name;
  }
  auto* tabs = Find<ui::TabBox>(L"switch");
  ASSERT_EQ(tabs->GetCount(), 3);
  const wchar_t* const pages[] = {L"home_page", L"download_page", L"end_page"};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(tabs->GetItemAt(i)->GetName(), pages[i]);
  EXPECT_EQ(tabs->GetCurSel(), 0);
  EXPECT_FALSE(Find<ui::Control>(L"box_custom")->IsVisible());
  EXPECT_FALSE(Find<ui::Control>(L"label_error")->IsVisible());
  const RECT& caption = window_->GetSettings().caption;
  EXPECT_EQ(caption.bottom, 360);
  EXPECT_EQ(Find<ui::Control>(L"combo_language")->GetFixedWidth(), 352);
  EXPECT_EQ(Find<ui::Control>(L"combo_language")->GetFixedHeight(), 28);
  EXPECT_EQ(Find<ui::Control>(L"btn_path")->GetFixedWidth(), 28);
  EXPECT_EQ(Find<ui::Control>(L"btn_path")->GetFixedHeight(), 28);
}

// Each page at both scales, as a user sees it; the pictures go to the build folder for review.
TEST_F(SkinWindowTest, PagesLookRightAtEachScale) {
  for (int scale : {100, 150, 200}) {
    SCOPED_TRACE(scale);
    // The pointer an earlier test left behind would hover a control of the larger window.
    ui_test::SendPointerMove(
        {::GetSystemMetrics(SM_CXSCREEN) - 1, ::GetSystemMetrics(SM_CYSCREEN) - 1});
    ASSERT_NO_FATAL_FAILURE(Open(scale));
    Dress();
    const int margin = Scaled(14);  // the default shadow around the content
    const int width = Scaled(640) + 2 * margin;
    auto shot = [&](const wchar_t* page) {
      window_->NeedUpdate();
      ::InvalidateRect(hwnd_, nullptr, FALSE);
      ASSERT_TRUE(WaitForPaint());
      Screenshot(nbase::StringPrintf(L"skin_%ls_%d", page, scale));
    };

    shot(L"home");
    // Above 100 % the home picture is the variant drawn for the scale, not a stretched one.
    ui::Control* home_picture = Find<ui::Box>(L"home_page")->GetItemAt(0);
    ASSERT_TRUE(home_picture->GetBkImage().GetInfo());
    EXPECT_EQ(home_picture->GetBkImage().GetInfo()->scale_percent, scale);
    ui::IRenderContext* context = window_->GetRenderContext();
    EXPECT_EQ(context->GetWidth(), width);
    EXPECT_EQ(context->GetHeight(), Scaled(360) + 2 * margin);
    // The big button is brand green just inside its left edge, clear of the text.
    const RECT install = Find<ui::Control>(L"btn_install")->GetPos();
    const BYTE* button = Pixel(install.left + Scaled(8), (install.top + install.bottom) / 2);
    EXPECT_TRUE(Near(button, 0x07BE8B)) << Describe(button);
    // No compositor draws the shadow here, so its alpha is read from the painted surface:
    // see-through at the outer corner, partly covering in the margin, opaque on the content.
    EXPECT_LE(Pixel(0, 0)[3], 8);
    const int middle = context->GetHeight() / 2;
    const BYTE alpha_in_margin = Pixel(margin / 2, middle)[3];
    EXPECT_GT(alpha_in_margin, 0);
    EXPECT_LT(alpha_in_margin, 200);
    EXPECT_GT(Pixel(margin - 1, middle)[3], alpha_in_margin) << "the shadow fades outwards";
    EXPECT_EQ(Pixel(margin + Scaled(4), middle)[3], 255);

    ShowCustomPanel(true);
    shot(L"home_custom");
    EXPECT_EQ(context->GetHeight(), Scaled(472) + 2 * margin) << "the window fits the panel";
    const RECT combo = Find<ui::Control>(L"combo_language")->GetPos();
    EXPECT_EQ(combo.right - combo.left, Scaled(352));
    EXPECT_LE(combo.bottom, context->GetHeight() - margin);
    // Text drawn by the system into the field must not punch holes into the window.
    const RECT edit = Find<ui::Control>(L"edit_path")->GetPos();
    int see_through = 0;
    for (LONG y = edit.top; y < edit.bottom; ++y) {
      for (LONG x = edit.left; x < edit.right; ++x) see_through += Pixel(x, y)[3] != 255;
    }
    EXPECT_EQ(see_through, 0);
    ShowCustomPanel(false);

    ShowPage(1);
    auto* progress = Find<ui::Progress>(L"progress");
    progress->SetValue(50);
    Find<ui::Label>(L"label_progress")->SetText(L"(45%)");
    // The line beside the percentage, as a download of 45 MB at 96 KB/s shows it.
    auto* status = Find<ui::Label>(L"label_status");
    status->SetText(L"12.3 MB of 45.0 MB, about 6 minutes left");
    shot(L"download");
    EXPECT_EQ(context->GetHeight(), Scaled(360) + 2 * margin);
    EXPECT_LE(status->GetPos().right, context->GetWidth() - margin) << "the line stays inside";
    EXPECT_GE(status->GetPos().left, Find<ui::Label>(L"label_progress")->GetPos().right);
    const RECT bar = progress->GetPos();
    const int bar_middle = (bar.top + bar.bottom) / 2;
    const BYTE* filled = Pixel(bar.left + (bar.right - bar.left) / 4, bar_middle);
    const BYTE* empty = Pixel(bar.left + (bar.right - bar.left) * 3 / 4, bar_middle);
    EXPECT_GT(filled[1], filled[2] + 80) << "filled part is green: " << Describe(filled);
    EXPECT_TRUE(Near(empty, 0xE4E9ED)) << "track: " << Describe(empty);

    ShowPage(2);
    shot(L"end");
    const RECT start = Find<ui::Control>(L"btn_start")->GetPos();
    const BYTE* start_pixel = Pixel(start.left + Scaled(8), (start.top + start.bottom) / 2);
    EXPECT_TRUE(Near(start_pixel, 0x07BE8B)) << Describe(start_pixel);
  }
}

// The German texts are longer; the same pages are written for review, and nothing may spill
// past the window: the agreement line stays inside the content.
TEST_F(SkinWindowTest, GermanTextsFit) {
  ASSERT_NO_FATAL_FAILURE(Open(100));
  ui::GlobalManager& global = ui::GlobalManager::Instance();
  nbase::UniqueGlobalMemory block(global.GetZipData(L"resources\\lang\\German\\gdstrings.ini"));
  ASSERT_TRUE(block);
  global.LoadLanguageFromMemory(block.get());
  ApplyTexts();
  Dress();
  ShowCustomPanel(true);
  window_->NeedUpdate();
  ::InvalidateRect(hwnd_, nullptr, FALSE);
  ASSERT_TRUE(WaitForPaint());
  Screenshot(L"skin_home_custom_German_100");
  const int margin = Scaled(14);
  for (const wchar_t* name : {L"label_link_left", L"label_link_right", L"checkbox_custom",
                              L"label_langauge", L"label_path"}) {
    const RECT pos = Find<ui::Control>(name)->GetPos();
    EXPECT_GE(pos.left, margin) << nbase::UTF16ToUTF8(name);
    EXPECT_LE(pos.right, margin + Scaled(640)) << nbase::UTF16ToUTF8(name);
  }
  // Leaving the home page closes the panel, as the setup window does.
  ShowCustomPanel(false);
  ShowPage(1);
  ASSERT_TRUE(WaitForPaint());
  Screenshot(L"skin_download_German_100");
  ShowPage(2);
  ASSERT_TRUE(WaitForPaint());
  Screenshot(L"skin_end_German_100");
}

// The slides' and the end page's words are texts now, and German is the longest: at every
// scale each slide's title and text stay in the column left of the pictured product and above
// the picture's dots, and the end page's words stay between the mark and Start Now.
TEST_F(SkinWindowTest, SlideAndEndWordsFitTheirPlaceInEveryLanguage) {
  for (int scale : {100, 150, 200}) {
    ASSERT_NO_FATAL_FAILURE(Open(scale));
    for (const wchar_t* language : kLanguages) {
      const std::string where = std::to_string(scale) + " %, " + nbase::UTF16ToUTF8(language);
      ASSERT_TRUE(UsePackagedLanguage(language)) << where;
      ApplyTexts();
      Dress();
      ShowPage(1);
      ASSERT_TRUE(WaitForPaint());
      const RECT slide = Find<ui::Control>(L"download_bk")->GetPos();
      ASSERT_EQ(slide.bottom - slide.top, Scaled(250)) << where;
      for (int index = 1; index <= 3; ++index) {
        ShowSlide(index);
        ASSERT_TRUE(WaitForPaint());
        const RECT title = Find<ui::Control>(L"label_slide_title")->GetPos();
        const RECT text = Find<ui::Control>(L"label_slide_text")->GetPos();
        const std::string which = where + ", slide " + std::to_string(index);
        EXPECT_FALSE(Find<ui::Label>(L"label_slide_title")->GetText().empty()) << which;
        EXPECT_FALSE(Find<ui::Label>(L"label_slide_text")->GetText().empty()) << which;
        EXPECT_GE(title.top, slide.top + Scaled(12)) << which;
        EXPECT_GE(text.top, title.bottom) << which;
        // The dots are drawn at y = 204 of the slide, the product's card from x = 352.
        EXPECT_LE(text.bottom, slide.top + Scaled(198)) << which;
        EXPECT_GT(text.bottom - text.top, Scaled(15)) << which << ": the text has no height";
        for (const RECT& line : {title, text}) {
          EXPECT_GE(line.left, slide.left + Scaled(40)) << which;
          EXPECT_LE(line.right, slide.left + Scaled(340)) << which;
        }
        if (index == 2) Screenshot(nbase::StringPrintf(L"words_slide2_%ls_%d", language, scale));
      }
      ShowPage(2);
      ASSERT_TRUE(WaitForPaint());
      Screenshot(nbase::StringPrintf(L"words_end_%ls_%d", language, scale));
      const RECT page = Find<ui::Control>(L"box_end_bk")->GetPos();
      const RECT title = Find<ui::Control>(L"label_end_title")->GetPos();
      const RECT text = Find<ui::Control>(L"label_end_text")->GetPos();
      const RECT start = Find<ui::Control>(L"btn_start")->GetPos();
      // The mark and its badge end at y = 156 of the page.
      EXPECT_GE(title.top, page.top + Scaled(156)) << where;
      EXPECT_GE(text.top, title.bottom) << where;
      EXPECT_LE(text.bottom + Scaled(12), start.top) << where;
      EXPECT_LE(text.bottom - text.top, Scaled(50)) << where << ": two lines at most";
      EXPECT_GE(text.left, page.left + Scaled(90)) << where;
      EXPECT_LE(text.right, page.right - Scaled(90)) << where;
    }
  }
}

// The repaint invariant on the shipped skin: whatever a user does, the surface that the
// window's partial repaints built up equals a full repaint of the same state. A repaint that
// draws outside its update rectangle piles pictures onto the retained frame and fails here.
class SkinRepaintTest : public SkinWindowTest {
 protected:
  void SetUp() override {
    SkinWindowTest::SetUp();
    ::GetCursorPos(&pointer_home_);
  }
  void TearDown() override {
    ui_test::SendPointerMove(pointer_home_);
    SkinWindowTest::TearDown();
  }

  // Checks the invariant now; the first failure of a test leaves both pictures for a look.
  void ExpectAgree(const std::string& step) {
    ui_test::Surface kept;
    ui_test::Surface full;
    const ::testing::AssertionResult agree = ui_test::RepaintsAgree(*window_, &kept, &full);
    EXPECT_TRUE(agree) << step;
    ++checks_;
    if (agree || saved_failure_) return;
    saved_failure_ = true;
    const std::wstring folder = skin_test::ScreenshotFolder();
    const std::wstring name =
        nbase::UTF8ToUTF16(::testing::UnitTest::GetInstance()->current_test_info()->name());
    skin_test::SavePng(kept.bits.data(), kept.width, kept.height, 0xC9D1D9,
                       folder + L"repaint_" + name + L"_partial.png");
    skin_test::SavePng(full.bits.data(), full.width, full.height, 0xC9D1D9,
                       folder + L"repaint_" + name + L"_full.png");
  }

  POINT ToScreen(POINT client) const {
    ::ClientToScreen(hwnd_, &client);
    return client;
  }
  // Moves the pointer to a client point and waits until the window has taken the move.
  bool PointAt(POINT client) {
    ui_test::SendPointerMove(ToScreen(client));
    return ui_test::PumpUntil(
        [&] { return window_->last_mouse_.x == client.x && window_->last_mouse_.y == client.y; },
        5000);
  }
  // Takes the pointer off the window and waits until the window has let go of the hover.
  bool PointAway() {
    RECT frame = {};
    ::GetWindowRect(hwnd_, &frame);
    ui_test::SendPointerMove({frame.right + 20, frame.bottom + 20});
    return ui_test::PumpUntil([&] { return window_->GetHoverControl() == nullptr; }, 5000);
  }
  static POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

  // The controls a pointer can reach now: the topmost one at each visible control's centre.
  std::vector<ui::Control*> Reachable() {
    std::vector<ui::Control*> found;
    auto* root = static_cast<ui::Box*>(window_->GetRoot());
    root->ForEachControl([&](ui::Control* control) {
      const RECT& r = control->GetPos();
      if (!control->IsVisible() || ::IsRectEmpty(&r)) return;
      ui::Control* top = window_->FindControl(Centre(r));
      if (top && std::find(found.begin(), found.end(), top) == found.end()) {
        found.push_back(top);
      }
    });
    return found;
  }

  // Over each control and off again, checking after every move and through hot fades.
  void HoverEverything(const std::string& where) {
    for (ui::Control* control : Reachable()) {
      const std::string name = where + ", over " + nbase::UTF16ToUTF8(control->GetName()) + " (" +
                               nbase::UTF16ToUTF8(control->GetType()) + ")";
      ASSERT_TRUE(PointAt(Centre(control->GetPos()))) << name;
      ExpectAgree(name);
      // A cross-fading control is checked at the moments between its steps.
      for (int step = 0; step < 40 && control->IsHotFading(); ++step) {
        ExpectAgree(name + ", fading");
      }
    }
    ASSERT_TRUE(PointAway()) << where;
    ExpectAgree(where + ", pointer away");
  }

  // Pressed, dragged off while held, and released there: no click, every look in between.
  void PressAndSlideOff(const wchar_t* name, POINT off) {
    ui::Control* control = window_->FindControl(name);
    ASSERT_NE(control, nullptr);
    const std::string what = nbase::UTF16ToUTF8(name);
    ASSERT_TRUE(PointAt(Centre(control->GetPos()))) << what;
    ui_test::SendLeftButton(true);
    ASSERT_TRUE(ui_test::PumpUntil([&] { return control->GetState() == 2; }, 5000)) << what;
    ExpectAgree(what + " pressed");
    ASSERT_TRUE(PointAt(off)) << what;
    ExpectAgree(what + " held off");
    const int ups = window_->button_ups_;
    ui_test::SendLeftButton(false);
    ASSERT_TRUE(ui_test::PumpUntil([&] { return window_->button_ups_ > ups; }, 5000)) << what;
    ExpectAgree(what + " released off");
  }
  void ClickAt(POINT client) {
    ASSERT_TRUE(PointAt(client));
    const int ups = window_->button_ups_;
    ui_test::SendLeftButton(true);
    ui_test::SendLeftButton(false);
    ASSERT_TRUE(ui_test::PumpUntil([&] { return window_->button_ups_ > ups; }, 5000));
  }

  void UseLanguage(const wchar_t* language) {
    ASSERT_TRUE(UsePackagedLanguage(language));
    ApplyTexts();
    Find<ui::Control>(L"end_bk")->SetAttribute(L"bkimage", L"bkimage/end.jpg");
    Find<ui::Control>(L"box_end_bk")->SetAttribute(L"bkimage", L"bkimage/end.jpg");
  }
  // As the setup window switches pages: the title buttons fade in and out with them.
  void FadeToPage(int index) {
    Find<ui::TabBox>(L"switch")->SelectItem(index);
    Find<ui::Control>(L"minbtn")->SetFadeVisible(index == 0);
    Find<ui::Control>(L"closebtn")->SetFadeVisible(index != 1);
    for (int step = 0; step < 40; ++step) {
      const bool fading = Find<ui::Control>(L"minbtn")->IsAlphaFading() ||
                          Find<ui::Control>(L"closebtn")->IsAlphaFading();
      ExpectAgree("page " + std::to_string(index) + (fading ? ", fading" : ""));
      if (!fading) break;
    }
  }

  // Everything a user does on every page, at one scale and in one language.
  void Walk(int scale, const wchar_t* language) {
    const std::string where = std::to_string(scale) + " %, " + nbase::UTF16ToUTF8(language);
    ASSERT_NO_FATAL_FAILURE(Open(scale));
    Dress();
    if (std::wstring(language) != L"English") {
      ASSERT_NO_FATAL_FAILURE(UseLanguage(language));
    }
    ExpectAgree(where + ", home");

    ASSERT_NO_FATAL_FAILURE(HoverEverything(where + ", home"));
    POINT blank = Centre(Find<ui::Control>(L"btn_install")->GetPos());
    blank.y -= Scaled(90);  // the picture above the button
    ASSERT_NO_FATAL_FAILURE(PressAndSlideOff(L"btn_install", blank));
    ASSERT_NO_FATAL_FAILURE(PressAndSlideOff(L"checkbox_custom", blank));

    // The custom panel: hover, focus the folder field, type, let the caret blink.
    ShowCustomPanel(true);
    ExpectAgree(where + ", custom panel");
    ASSERT_NO_FATAL_FAILURE(HoverEverything(where + ", custom panel"));
    ASSERT_NO_FATAL_FAILURE(PressAndSlideOff(L"btn_path", blank));
    auto* edit = Find<ui::RichEdit>(L"edit_path");
    ASSERT_NO_FATAL_FAILURE(ClickAt(Centre(edit->GetPos())));
    ASSERT_EQ(window_->GetFocus(), edit);
    ExpectAgree(where + ", folder field focused");
    for (wchar_t c : std::wstring(L"\\Games")) {
      ::SendMessageW(hwnd_, WM_CHAR, c, 1);
      ExpectAgree(where + ", typing");
    }
    ::SendMessageW(hwnd_, WM_KEYDOWN, VK_BACK, 1);
    ::SendMessageW(hwnd_, WM_CHAR, L'\b', 1);
    ExpectAgree(where + ", backspace");
    // Each blink changes the field's pixels; a few of them are checked as they come.
    const RECT field = edit->GetPos();
    auto field_pixels = [&] {
      const ui_test::Surface now = ui_test::CopySurface(*window_);
      std::vector<BYTE> pixels;
      for (LONG y = field.top; y < field.bottom; ++y) {
        const BYTE* row = &now.bits[(static_cast<size_t>(y) * now.width + field.left) * 4];
        pixels.insert(pixels.end(), row, row + (field.right - field.left) * 4);
      }
      return pixels;
    };
    for (int blink = 0; blink < 4; ++blink) {
      const std::vector<BYTE> before = field_pixels();
      ASSERT_TRUE(ui_test::PumpUntil([&] { return field_pixels() != before; }, 15000))
          << "the caret does not blink";
      ExpectAgree(where + ", caret blink");
    }
    ShowCustomPanel(false);
    ExpectAgree(where + ", custom panel closed");

    // The download page: the slideshow and the progress as the download reports it.
    FadeToPage(1);
    ASSERT_NO_FATAL_FAILURE(HoverEverything(where + ", download"));
    auto* progress = Find<ui::Progress>(L"progress");
    auto* percent = Find<ui::Label>(L"label_progress");
    for (int value = 0; value <= 100; value += 9) {
      progress->SetValue(value * 9 / 10);
      percent->SetText(nbase::StringPrintf(L"(%d%%)", value * 9 / 10));
      ExpectAgree(where + ", progress " + std::to_string(value));
      if (value % 36 == 0) {
        ShowSlide(value / 36 + 1);
        ExpectAgree(where + ", slide " + std::to_string(value / 36 + 1));
      }
    }
    ASSERT_NO_FATAL_FAILURE(PressAndSlideOff(L"btn_hide", {Scaled(14) + 30, Scaled(14) + 30}));

    FadeToPage(2);
    ASSERT_NO_FATAL_FAILURE(HoverEverything(where + ", end"));
    const RECT start = Find<ui::Control>(L"btn_start")->GetPos();
    ASSERT_NO_FATAL_FAILURE(PressAndSlideOff(L"btn_start", {Centre(start).x, start.top - 20}));

    // Back home, and the other language chosen there.
    FadeToPage(0);
    ASSERT_NO_FATAL_FAILURE(
        UseLanguage(std::wstring(language) == L"English" ? L"German" : L"English"));
    ExpectAgree(where + ", language switched");
    ASSERT_NO_FATAL_FAILURE(HoverEverything(where + ", home after the switch"));
  }

  POINT pointer_home_ = {};
  bool saved_failure_ = false;
  int checks_ = 0;
};

TEST_F(SkinRepaintTest, HoveringInstallNowChangesNothingOnceThePointerLeaves) {
  ASSERT_NO_FATAL_FAILURE(Open(100));
  Dress();
  ASSERT_TRUE(ui_test::SettlePaint(*window_));
  Screenshot(L"repaint_before_hover");
  const ui_test::Surface before = ui_test::CopySurface(*window_);
  ASSERT_TRUE(PointAt(Centre(Find<ui::Control>(L"btn_install")->GetPos())));
  ASSERT_TRUE(ui_test::SettlePaint(*window_));
  Screenshot(L"repaint_hover_install");
  ExpectAgree("over Install Now");
  ASSERT_TRUE(PointAway());
  // The button fades back from its hot look on a timer, so the window is given until the fade
  // has run out; a picture that never comes back still fails at the watchdog.
  const bool restored =
      ui_test::PumpUntil([&] { return ui_test::CopySurface(*window_).bits == before.bits; }, 10000);
  ASSERT_TRUE(ui_test::SettlePaint(*window_));
  Screenshot(L"repaint_after_hover");
  EXPECT_TRUE(restored) << "the window looks different after the pointer came and went";
  ExpectAgree("pointer away");
}

TEST_F(SkinRepaintTest, EnglishAt100) {
  Walk(100, L"English");
}
TEST_F(SkinRepaintTest, GermanAt100) {
  Walk(100, L"German");
}
TEST_F(SkinRepaintTest, EnglishAt150) {
  Walk(150, L"English");
}
TEST_F(SkinRepaintTest, GermanAt150) {
  Walk(150, L"German");
}

}  // namespace
