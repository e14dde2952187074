// Start-up and shutdown of the resource service and its tables of fonts, colors and classes.
#include "ui/core/GlobalManager.h"

#include <commctrl.h>

#include <cwchar>
#include <iterator>
#include <vector>

#include "base/SystemLibrary.h"
#include "ui/core/DpiManager.h"
#include "ui/core/WindowBuilder.h"
#include "ui/render/GdiPlusApi.h"
#include "ui/render/Image.h"
#include "ui/render/RenderFactory.h"

namespace ui {

GlobalManager& GlobalManager::Instance() {
  static GlobalManager instance;
  return instance;
}

GlobalManager::GlobalManager() = default;
GlobalManager::~GlobalManager() = default;

bool GlobalManager::OpenResZip(UINT resource_id, const wchar_t* resource_type,
                               const std::string& password) {
  CloseResZip();
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(resource_id), resource_type);
  if (!resource) return false;
  HGLOBAL loaded = ::LoadResource(module, resource);
  const DWORD size = ::SizeofResource(module, resource);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data || size == 0) return false;
  return zip_.Open(data, size, password);
}

bool GlobalManager::OpenZipFromMemory(const void* data, size_t size, const std::string& password) {
  CloseResZip();
  return zip_.Open(data, size, password);
}

void GlobalManager::CloseResZip() {
  zip_.Close();
}

void GlobalManager::SetResourcePath(const std::wstring& path) {
  resource_path_ = path;
  if (!resource_path_.empty() && resource_path_.back() != L'\\' && resource_path_.back() != L'/') {
    resource_path_ += L'\\';
  }
}

void GlobalManager::Startup(const std::wstring& resource_root,
                            const CreateControlCallback& callback, bool adapt_dpi,
                            const std::wstring& theme, const std::wstring& language) {
  render_factory_ = std::make_unique<RenderFactory_GdiPlus>();
  SetResourcePath(resource_root + theme);
  create_callback_ = callback;
  if (adapt_dpi) DpiManager::Instance().AdaptDPI();

  WindowBuilder builder;
  builder.Create(L"global.xml", CreateControlCallback(), nullptr, nullptr);

  const std::wstring language_file = resource_root + language + L"\\gdstrings.ini";
  if (IsUseZip()) {
    UniqueGlobalMemory block(GetZipData(language_file));
    if (block) LoadLanguageFromMemory(block.get());
  } else {
    LoadLanguageFromFile(language_file);
  }

  StartGdiPlus();
}

bool GlobalManager::StartCommonControls() {
  if (common_controls_) return true;
  using InitControlsFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  if (auto init =
          nbase::GetSystemFunction<InitControlsFn>(L"comctl32.dll", "InitCommonControlsEx")) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    common_controls_ = init(&controls) != FALSE;
  }
  return common_controls_;
}

bool GlobalManager::StartGdiPlus() {
  if (gdiplus_token_) return true;
  const gdip::Api& api = gdip::Get();
  if (!api.Loaded()) return false;
  const gdip::StartupInput input = {1, nullptr, FALSE, FALSE};
  return api.GdiplusStartup(&gdiplus_token_, &input, nullptr) == gdip::kOk;
}

void GlobalManager::Shutdown() {
  CloseResZip();
  reduced_images_.clear();
  reduced_scale_ = 0;
  render_factory_.reset();
  RemoveAllFonts();
  if (gdiplus_token_) {
    gdip::Get().GdiplusShutdown(gdiplus_token_);
    gdiplus_token_ = 0;
  }
}

std::wstring GlobalManager::GetZipFilePath(const std::wstring& path) {
  std::wstring text = path;
  for (wchar_t& c : text) {
    if (c == L'\\') c = L'/';
  }
  for (size_t at; (at = text.find(L"//")) != std::wstring::npos;) text.erase(at, 1);
  // Resolve "./" and "../" component by component; the last component is the file name.
  std::vector<std::wstring> folders;
  std::wstring file;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t slash = text.find(L'/', pos);
    if (slash == std::wstring::npos) {
      file = text.substr(pos);
      break;
    }
    std::wstring part = text.substr(pos, slash - pos);
    pos = slash + 1;
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      if (!folders.empty()) folders.pop_back();
      continue;
    }
    folders.push_back(std::move(part));
  }
  std::wstring out;
  for (const std::wstring& folder : folders) out += folder + L'/';
  return out + file;
}

HGLOBAL GlobalManager::GetZipData(const std::wstring& path) const {
  if (!IsUseZip()) return nullptr;
  return zip_.ExtractToGlobal(GetZipFilePath(path));
}

const wchar_t* GlobalManager::SystemFontFace() {
  return DpiManager::IsVistaOrLater() ? L"\x5FAE\x8F6F\x96C5\x9ED1" : L"\x65B0\x5B8B\x4F53";
}

bool GlobalManager::AddFont(const std::wstring& id, const std::wstring& face_name, int size,
                            bool bold, bool underline, bool italic, bool is_default) {
  const std::wstring face = face_name == L"system" ? SystemFontFace() : face_name;
  LOGFONTW logfont = {};
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(logfont), &logfont);
  wcsncpy_s(logfont.lfFaceName, LF_FACESIZE, face.c_str(), _TRUNCATE);
  logfont.lfCharSet = DEFAULT_CHARSET;
  logfont.lfHeight = -DpiManager::Instance().ScaleInt(size);
  if (bold) logfont.lfWeight += FW_BOLD;
  if (underline) logfont.lfUnderline = TRUE;
  if (italic) logfont.lfItalic = TRUE;
  UniqueFont font(::CreateFontIndirectW(&logfont));
  if (!font) return false;
  FontInfo info;
  info.font = std::move(font);
  info.face_name = face;
  info.size = size;
  info.bold = bold;
  info.underline = underline;
  info.italic = italic;
  fonts_[id] = std::move(info);
  if (is_default) default_font_id_ = id;
  return true;
}

void GlobalManager::RescaleFonts() {
  struct Written {
    std::wstring id;
    std::wstring face;
    int size;
    bool bold, underline, italic;
  };
  std::vector<Written> fonts;
  for (const auto& [id, info] : fonts_) {
    fonts.push_back({id, info.face_name, info.size, info.bold, info.underline, info.italic});
  }
  const std::wstring default_id = default_font_id_;
  for (const Written& font : fonts) {
    AddFont(font.id, font.face, font.size, font.bold, font.underline, font.italic,
            font.id == default_id);
  }
}

FontInfo* GlobalManager::GetFontInfo(const std::wstring& id, HDC measuring_dc) {
  const auto found = fonts_.find(id.empty() ? default_font_id_ : id);
  if (found == fonts_.end()) return nullptr;
  FontInfo& info = found->second;
  if (!info.has_metrics && measuring_dc) {
    ScopedSelectObject select(measuring_dc, info.font.get());
    info.has_metrics = ::GetTextMetricsW(measuring_dc, &info.text_metrics) != FALSE;
  }
  return &info;
}

HFONT GlobalManager::GetFont(const std::wstring& id) {
  FontInfo* info = GetFontInfo(id);
  return info ? info->font.get() : nullptr;
}

void GlobalManager::RemoveAllFonts() {
  fonts_.clear();
  default_font_id_.clear();
}

DWORD GlobalManager::ParseColor(const std::wstring& value) {
  if (value.size() < 2) return 0;
  return static_cast<DWORD>(std::wcstoul(value.c_str() + 1, nullptr, 16));
}

void GlobalManager::AddTextColor(const std::wstring& name, const std::wstring& value) {
  colors_[name] = ParseColor(value);
}

DWORD GlobalManager::GetTextColor(const std::wstring& name) {
  return colors_[name];
}

void GlobalManager::AddClass(const std::wstring& name, const std::wstring& attributes) {
  classes_[name] = attributes;
}

std::wstring GlobalManager::GetClassAttributes(const std::wstring& name) const {
  const auto found = classes_.find(name);
  return found == classes_.end() ? std::wstring() : found->second;
}

std::shared_ptr<ImageInfo> GlobalManager::GetImage(const std::wstring& path) {
  const int scale = DpiManager::Instance().IsAdaptDPI() ? DpiManager::Instance().GetScale() : 100;
  const size_t dot = path.find_last_of(L'.');
  const size_t slash = path.find_last_of(L"\\/");
  const bool named = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
  auto variant_path = [&](int variant) {
    return path.substr(0, dot) + L"@" + std::to_wstring(variant) + path.substr(dot);
  };
  // A picture drawn for this very scale is used as it is.
  if (scale == 100) {
    if (std::shared_ptr<ImageInfo> plain = DecodeImage(path, 100)) return plain;
  } else if (named && std::find(std::begin(kImageVariants), std::end(kImageVariants), scale) !=
                          std::end(kImageVariants)) {
    if (std::shared_ptr<ImageInfo> exact = DecodeImage(variant_path(scale), scale)) return exact;
  }
  if (!named) return DecodeImage(path, 100);
  // Otherwise the smallest larger drawing, reduced once to this scale: shrinking by area keeps
  // every edge as sharp as a drawing at that size, which stretching while painting would not.
  for (int variant : kImageVariants) {
    if (variant <= scale) continue;
    if (std::shared_ptr<ImageInfo> reduced = ReducedImage(variant_path(variant), variant, scale)) {
      return reduced;
    }
  }
  // Beyond the largest drawing the painter stretches the largest there is.
  for (auto it = std::rbegin(kImageVariants); it != std::rend(kImageVariants); ++it) {
    if (*it >= scale) continue;
    if (std::shared_ptr<ImageInfo> found = DecodeImage(variant_path(*it), *it)) return found;
  }
  return DecodeImage(path, 100);
}

std::shared_ptr<ImageInfo> GlobalManager::ReducedImage(const std::wstring& path, int drawn_scale,
                                                       int wanted_scale) {
  if (wanted_scale != reduced_scale_) {
    reduced_images_.clear();
    reduced_scale_ = wanted_scale;
  }
  const std::wstring key = IsUseZip() ? GetZipFilePath(path) : path;
  const auto cached = reduced_images_.find(key);
  if (cached != reduced_images_.end()) return cached->second;
  std::unique_ptr<ImageInfo> decoded;
  if (IsUseZip()) {
    UniqueGlobalMemory block(zip_.ExtractToGlobal(key));
    if (block) decoded = ImageInfo::LoadFromMemory(block.get(), key, drawn_scale, wanted_scale);
  } else {
    decoded = ImageInfo::LoadFromFile(path, drawn_scale, wanted_scale);
  }
  if (!decoded) return nullptr;
  // Kept for the whole run at this scale: the slideshow comes back to each picture, and reducing
  // it again every time it shows would cost more than the memory it holds.
  std::shared_ptr<ImageInfo> shared(decoded.release());
  reduced_images_[key] = shared;
  return shared;
}

std::shared_ptr<ImageInfo> GlobalManager::DecodeImage(const std::wstring& path, int scale_percent) {
  const std::wstring key = IsUseZip() ? GetZipFilePath(path) : path;
  const auto cached = images_.find(key);
  if (cached != images_.end()) {
    if (std::shared_ptr<ImageInfo> live = cached->second.lock()) return live;
  }
  std::unique_ptr<ImageInfo> decoded;
  if (IsUseZip()) {
    UniqueGlobalMemory block(zip_.ExtractToGlobal(key));
    if (block) decoded = ImageInfo::LoadFromMemory(block.get(), key);
  }
  if (!decoded && !(IsUseZip() && scale_percent != 100)) decoded = ImageInfo::LoadFromFile(path);
  if (!decoded) return nullptr;
  decoded->scale_percent = scale_percent;
  // The last user's release takes the entry out of the cache with it.
  std::shared_ptr<ImageInfo> shared(decoded.release(), [key](ImageInfo* image) {
    GlobalManager::Instance().RemoveImageFromCache(key);
    delete image;
  });
  images_[key] = shared;
  return shared;
}

void GlobalManager::RemoveImageFromCache(const std::wstring& key) {
  const auto found = images_.find(key);
  if (found != images_.end() && found->second.expired()) images_.erase(found);
}

}  // namespace ui
