// The process-wide resource service: skin package, fonts, colors, classes, language, images.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "base/StringTable.h"
#include "ui/core/ZipArchive.h"
#include "ui/render/GdiHandles.h"

namespace ui {

class Control;
class IRenderFactory;
struct ImageInfo;

using CreateControlCallback = std::function<Control*(const std::wstring& element_name)>;

struct FontInfo {
  UniqueFont font;
  std::wstring face_name;
  int size = 0;  // as written, before DPI scaling
  bool bold = false;
  bool underline = false;
  bool italic = false;
  TEXTMETRICW text_metrics = {};
  bool has_metrics = false;
};

// UI thread only. Created on first use; Startup fills it and Shutdown empties it.
class GlobalManager {
 public:
  static GlobalManager& Instance();

  // Opens the executable's resource of `type` and `id` as the skin package. The resource's
  // bytes are used in place; they live as long as the module.
  bool OpenResZip(UINT resource_id, const wchar_t* resource_type, const std::string& password);
  // Opens a package held in memory that outlives it (tests and tools).
  bool OpenZipFromMemory(const void* data, size_t size, const std::string& password);
  void CloseResZip();
  bool IsUseZip() const { return zip_.IsOpen(); }

  void Startup(const std::wstring& resource_root, const CreateControlCallback& callback,
               bool adapt_dpi, const std::wstring& theme, const std::wstring& language);
  void Shutdown();
  // Registers the common controls' window classes (the tooltip's), once, when one is first
  // wanted: loading them costs the first paint time it need not wait for.
  bool StartCommonControls();

  const std::wstring& GetResourcePath() const { return resource_path_; }
  void SetResourcePath(const std::wstring& path);

  IRenderFactory* GetRenderFactory() const { return render_factory_.get(); }
  const CreateControlCallback& GetCreateControlCallback() const { return create_callback_; }

  // The package member at `path` in a new movable block, or null; the caller frees it.
  HGLOBAL GetZipData(const std::wstring& path) const;
  static std::wstring GetZipFilePath(const std::wstring& path);

  bool AddFont(const std::wstring& id, const std::wstring& face_name, int size, bool bold,
               bool underline, bool italic, bool is_default);
  HFONT GetFont(const std::wstring& id);
  FontInfo* GetFontInfo(const std::wstring& id, HDC measuring_dc = nullptr);
  const std::wstring& GetDefaultFontId() const { return default_font_id_; }
  void RemoveAllFonts();
  // Creates every font again at the present DPI scale, under the same ids.
  void RescaleFonts();

  void AddTextColor(const std::wstring& name, const std::wstring& value);
  DWORD GetTextColor(const std::wstring& name);
  static DWORD ParseColor(const std::wstring& value);

  void AddClass(const std::wstring& name, const std::wstring& attributes);
  std::wstring GetClassAttributes(const std::wstring& name) const;
  void RemoveAllClasses() { classes_.clear(); }

  bool LoadLanguageFromFile(const std::wstring& path) { return language_.LoadFromFile(path); }
  bool LoadLanguageFromMemory(HGLOBAL block) { return language_.LoadFromMemory(block); }
  std::wstring GetLanguageText(const std::wstring& id) const { return language_.GetValue(id); }
  // The table itself, for a caller that switches the language with a reader of its own.
  nbase::StringTable& GetLanguageTable() { return language_; }

  // Shared decoded image for a path, from the package or the file system; null when nothing
  // decodes. Cached weakly: it lives while some control uses it.
  // Larger drawings of a picture sit beside it, named with the scale they were drawn for:
  // "btn_start@200.png" beside "btn_start.png". A skin may leave out any of them, the plain one
  // included, when a larger one can be reduced to it.
  static constexpr int kImageVariants[] = {150, 200};
  // The decoded picture at `path` as it suits the DPI scale: the drawing for the scale, else the
  // smallest larger drawing reduced to the scale once (then kept while the scale holds), else
  // the largest drawing there is. Shared; drawings used as they are stay cached while anything
  // uses them.
  std::shared_ptr<ImageInfo> GetImage(const std::wstring& path);
  size_t GetImageCacheSize() const { return images_.size(); }

  // The colors that the Global element's own attributes name.
  void SetDefaultFontColor(const std::wstring& name) { default_font_color_ = name; }
  const std::wstring& GetDefaultFontColor() const { return default_font_color_; }
  void SetDefaultDisabledFontColor(const std::wstring& name) { disabled_font_color_ = name; }
  const std::wstring& GetDefaultDisabledFontColor() const { return disabled_font_color_; }
  void SetDefaultLinkFontColor(DWORD color) { link_font_color_ = color; }
  DWORD GetDefaultLinkFontColor() const { return link_font_color_; }
  void SetDefaultLinkHoverFontColor(DWORD color) { link_hover_font_color_ = color; }
  DWORD GetDefaultLinkHoverFontColor() const { return link_hover_font_color_; }
  void SetDefaultSelectedBkColor(DWORD color) { selected_color_ = color; }
  DWORD GetDefaultSelectedBkColor() const { return selected_color_; }
  // The color name of the mark around the control the keyboard focused.
  void SetFocusColor(const std::wstring& color) { focus_color_ = color; }
  const std::wstring& GetFocusColor() const { return focus_color_; }

  // The font-face substitute for "system".
  static const wchar_t* SystemFontFace();

 private:
  GlobalManager();
  ~GlobalManager();
  void RemoveImageFromCache(const std::wstring& key);
  std::shared_ptr<ImageInfo> DecodeImage(const std::wstring& path, int scale_percent);
  std::shared_ptr<ImageInfo> ReducedImage(const std::wstring& path, int drawn_scale,
                                          int wanted_scale);
  bool StartGdiPlus();

  ZipArchive zip_;
  std::wstring resource_path_;
  CreateControlCallback create_callback_;
  std::unique_ptr<IRenderFactory> render_factory_;
  std::map<std::wstring, FontInfo> fonts_;
  std::wstring default_font_id_;
  std::map<std::wstring, DWORD> colors_;
  std::map<std::wstring, std::wstring> classes_;
  nbase::StringTable language_;
  std::map<std::wstring, std::weak_ptr<ImageInfo>> images_;
  std::map<std::wstring, std::shared_ptr<ImageInfo>> reduced_images_;
  int reduced_scale_ = 0;
  std::wstring default_font_color_;
  std::wstring disabled_font_color_;
  DWORD link_font_color_ = 0;
  DWORD link_hover_font_color_ = 0;
  DWORD selected_color_ = 0;
  std::wstring focus_color_;
  ULONG_PTR gdiplus_token_ = 0;
  bool common_controls_ = false;
};

}  // namespace ui
