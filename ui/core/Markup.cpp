// Parsing of the accepted XML subset in place, with an explicit stack so depth cannot overflow.
#include "ui/core/Markup.h"

#include <algorithm>
#include <cstring>
#include <cwctype>

#include "base/UniqueResource.h"
#include "ui/core/GlobalManager.h"

namespace ui {
namespace {

constexpr size_t kMaxMessage = 99;
constexpr size_t kMaxLocation = 49;

bool IsNameChar(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'_' || c == L':' || (c > 0x7F && std::iswalpha(c));
}

bool IsRelativePath(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':') return false;
  if (!path.empty() && (path[0] == L'\\' || path[0] == L'/')) return false;
  return true;
}

}  // namespace

MarkupNode MarkupNode::GetParent() const {
  if (!owner_) return MarkupNode();
  const size_t parent = owner_->elements_[element_].parent;
  return parent == Markup::kNone || parent == 0 ? MarkupNode() : MarkupNode(owner_, parent);
}

MarkupNode MarkupNode::GetSibling() const {
  if (!owner_) return MarkupNode();
  const size_t next = owner_->elements_[element_].next;
  return next == Markup::kNone ? MarkupNode() : MarkupNode(owner_, next);
}

MarkupNode MarkupNode::GetChild() const {
  if (!owner_) return MarkupNode();
  const size_t child = owner_->elements_[element_].child;
  return child == Markup::kNone ? MarkupNode() : MarkupNode(owner_, child);
}

bool MarkupNode::HasChildren() const {
  return owner_ && owner_->elements_[element_].child != Markup::kNone;
}

const wchar_t* MarkupNode::GetName() const {
  return owner_ ? &owner_->text_[owner_->elements_[element_].name] : L"";
}

std::wstring MarkupNode::GetValue() const {
  if (!owner_) return std::wstring();
  const Markup::Element& element = owner_->elements_[element_];
  return std::wstring(&owner_->text_[element.text], element.text_length);
}

int MarkupNode::GetAttributeCount() const {
  if (!owner_) return 0;
  const size_t count = owner_->elements_[element_].attribute_count;
  return static_cast<int>(count < static_cast<size_t>(kMaxAttributes) ? count : kMaxAttributes);
}

const wchar_t* MarkupNode::GetAttributeName(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return L"";
  const size_t at = owner_->elements_[element_].first_attribute + static_cast<size_t>(index);
  return &owner_->text_[owner_->attributes_[at].name];
}

const wchar_t* MarkupNode::GetAttributeValue(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return L"";
  const size_t at = owner_->elements_[element_].first_attribute + static_cast<size_t>(index);
  return &owner_->text_[owner_->attributes_[at].value];
}

const wchar_t* MarkupNode::GetAttributeValue(const wchar_t* name) const {
  const int count = GetAttributeCount();
  for (int i = 0; i < count; ++i) {
    if (std::wcscmp(GetAttributeName(i), name) == 0) return GetAttributeValue(i);
  }
  return nullptr;
}

void Markup::Release() {
  text_.clear();
  length_ = 0;
  elements_.clear();
  attributes_.clear();
}

MarkupNode Markup::GetRoot() const {
  if (elements_.empty() || elements_[0].child == kNone) return MarkupNode();
  return MarkupNode(this, elements_[0].child);
}

bool Markup::Load(const std::wstring& xml) {
  Release();
  error_message_.clear();
  error_location_.clear();
  text_.assign(xml.begin(), xml.end());
  length_ = text_.size();
  text_.push_back(L'\0');
  return Parse();
}

bool Markup::LoadFromMem(const BYTE* bytes, size_t size, int encoding) {
  Release();
  if (size > kMaxFileSize) {
    error_message_ = L"File too large";
    error_location_.clear();
    return false;
  }
  std::wstring wide;
  if (encoding == kUtf8 || encoding == kAnsi) {
    const UINT code_page = encoding == kUtf8 ? CP_UTF8 : CP_ACP;
    if (encoding == kUtf8 && size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB &&
        bytes[2] == 0xBF) {
      bytes += 3;
      size -= 3;
    }
    if (size > 0) {
      const int count = ::MultiByteToWideChar(code_page, 0, reinterpret_cast<const char*>(bytes),
                                              static_cast<int>(size), nullptr, 0);
      if (count > 0) {
        wide.resize(static_cast<size_t>(count));
        ::MultiByteToWideChar(code_page, 0, reinterpret_cast<const char*>(bytes),
                              static_cast<int>(size), &wide[0], count);
      }
    }
  } else {
    bool big_endian = false;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
      bytes += 2;
      size -= 2;
    } else if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
      bytes += 2;
      size -= 2;
      big_endian = true;
    }
    wide.resize(size / 2);
    for (size_t i = 0; i < wide.size(); ++i) {
      const BYTE low = big_endian ? bytes[i * 2 + 1] : bytes[i * 2];
      const BYTE high = big_endian ? bytes[i * 2] : bytes[i * 2 + 1];
      wide[i] = static_cast<wchar_t>(low | (high << 8));
    }
  }
  return Load(wide);
}

bool Markup::LoadFromFile(const std::wstring& path, int encoding) {
  Release();
  const std::wstring full =
      IsRelativePath(path) ? GlobalManager::Instance().GetResourcePath() + path : path;
  nbase::UniqueFileHandle file(::CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  error_location_ = full.substr(0, kMaxLocation);
  if (!file) {
    error_message_ = L"Error opening file";
    return false;
  }
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.get(), &size)) {
    error_message_ = L"Could not read file";
    return false;
  }
  if (size.QuadPart == 0) {
    error_message_ = L"File is empty";
    return false;
  }
  if (size.QuadPart > static_cast<LONGLONG>(kMaxFileSize)) {
    error_message_ = L"File too large";
    return false;
  }
  std::vector<BYTE> bytes(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
      read != bytes.size()) {
    error_message_ = L"Could not read file";
    return false;
  }
  return LoadFromMem(bytes.data(), bytes.size(), encoding);
}

bool Markup::Fail(const wchar_t* message, size_t position) {
  error_message_.assign(message).resize(std::min(error_message_.size(), kMaxMessage));
  error_location_.clear();
  for (size_t i = position;
       i < length_ && text_[i] != L'\0' && error_location_.size() < kMaxLocation; ++i) {
    error_location_ += text_[i];
  }
  elements_.clear();
  attributes_.clear();
  return false;
}

void Markup::SkipWhitespace(size_t& pos) const {
  while (pos < length_ && text_[pos] <= L' ') ++pos;
}

size_t Markup::AddElement(size_t parent, size_t name) {
  if (elements_.size() == elements_.capacity()) {
    elements_.reserve(elements_.capacity() + elements_.capacity() / 2 + 500);
  }
  Element element;
  element.name = name;
  element.parent = parent;
  element.first_attribute = attributes_.size();
  const size_t index = elements_.size();
  elements_.push_back(element);
  Element& owner = elements_[parent];
  if (owner.last_child == kNone) {
    owner.child = index;
  } else {
    elements_[owner.last_child].next = index;
  }
  owner.last_child = index;
  return index;
}

size_t Markup::ReplaceEntities(size_t begin, size_t end) {
  struct Entity {
    const wchar_t* name;
    size_t length;
    wchar_t replacement;
  };
  static const Entity kEntities[] = {{L"&amp;", 5, L'&'},
                                     {L"&lt;", 4, L'<'},
                                     {L"&gt;", 4, L'>'},
                                     {L"&quot;", 6, L'"'},
                                     {L"&apos;", 6, L'\''}};
  size_t out = begin;
  for (size_t in = begin; in < end;) {
    bool replaced = false;
    if (text_[in] == L'&') {
      for (const Entity& entity : kEntities) {
        if (end - in >= entity.length &&
            std::wmemcmp(&text_[in], entity.name, entity.length) == 0) {
          text_[out++] = entity.replacement;
          in += entity.length;
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) text_[out++] = text_[in++];
  }
  return out;
}

bool Markup::Parse() {
  elements_.clear();
  attributes_.clear();
  elements_.reserve(500);
  Element document;
  elements_.push_back(document);
  size_t parent = 0;
  size_t pos = 0;

  for (;;) {
    SkipWhitespace(pos);
    if (pos >= length_) {
      if (parent != 0) return Fail(L"Expected end-tag start", pos);
      break;
    }
    if (text_[pos] != L'<') {
      if (parent == 0) return Fail(L"Expected start tag", pos);
      // Text after a child element is not kept.
      while (pos < length_ && text_[pos] != L'<') ++pos;
      continue;
    }
    const wchar_t next = pos + 1 < length_ ? text_[pos + 1] : L'\0';
    if (next == L'!' || next == L'?') {
      const wchar_t* terminator = next == L'!' ? L"->" : L"?>";
      size_t at = pos + 2;
      while (at + 1 < length_ && !(text_[at] == terminator[0] && text_[at + 1] == terminator[1])) {
        ++at;
      }
      pos = at + 1 < length_ ? at + 2 : length_;
      continue;
    }
    if (next == L'/') {
      if (parent == 0) return Fail(L"Expected start tag", pos);
      const size_t name_start = pos + 2;
      size_t at = name_start;
      while (at < length_ && IsNameChar(text_[at])) ++at;
      const wchar_t* open_name = &text_[elements_[parent].name];
      const size_t open_length = std::wcslen(open_name);
      if (at - name_start != open_length ||
          std::wmemcmp(&text_[name_start], open_name, open_length) != 0) {
        return Fail(L"Unmatched closing tag", pos);
      }
      SkipWhitespace(at);
      if (at >= length_ || text_[at] != L'>') return Fail(L"Unmatched closing tag", pos);
      pos = at + 1;
      parent = elements_[parent].parent;
      continue;
    }

    // A start tag.
    ++pos;
    const size_t name_start = pos;
    while (pos < length_ && IsNameChar(text_[pos])) ++pos;
    if (pos == name_start) return Fail(L"Error parsing element name", name_start);
    const size_t name_end = pos;
    const size_t element = AddElement(parent, name_start);
    bool closed = false;
    bool has_content = false;
    while (!closed) {
      SkipWhitespace(pos);
      if (pos >= length_) return Fail(L"Expected start-tag closing", pos);
      const wchar_t c = text_[pos];
      if (c == L'/') {
        if (pos + 1 >= length_ || text_[pos + 1] != L'>') {
          return Fail(L"Expected start-tag closing", pos);
        }
        pos += 2;
        closed = true;
      } else if (c == L'>') {
        ++pos;
        closed = true;
        has_content = true;
      } else if (IsNameChar(c)) {
        const size_t attribute_name = pos;
        while (pos < length_ && IsNameChar(text_[pos])) ++pos;
        const size_t attribute_name_end = pos;
        SkipWhitespace(pos);
        if (pos >= length_ || text_[pos] != L'=') {
          return Fail(L"Error while parsing attributes", pos);
        }
        ++pos;
        SkipWhitespace(pos);
        if (pos >= length_ || text_[pos] != L'"') return Fail(L"Expected attribute value", pos);
        const size_t value_start = ++pos;
        while (pos < length_ && text_[pos] != L'"') ++pos;
        if (pos >= length_) return Fail(L"Error while parsing attribute string", value_start);
        const size_t value_end = ReplaceEntities(value_start, pos);
        for (size_t fill = value_end; fill <= pos; ++fill) text_[fill] = L'\0';
        text_[attribute_name_end] = L'\0';
        ++pos;
        attributes_.push_back(Attribute{attribute_name, value_start});
        ++elements_[element].attribute_count;
      } else {
        return Fail(L"Expected start-tag closing", pos);
      }
    }
    // Everything after the name has been read, so its terminator can overwrite what follows.
    text_[name_end] = L'\0';
    if (has_content) {
      SkipWhitespace(pos);
      const size_t text_start = pos;
      while (pos < length_ && text_[pos] != L'<') ++pos;
      elements_[element].text = text_start;
      elements_[element].text_length = ReplaceEntities(text_start, pos) - text_start;
      parent = element;
    } else {
      elements_[element].text = name_end;  // an empty string
    }
  }
  return true;
}

}  // namespace ui
