// Small in-place XML parser for layout files and the global style file.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace ui {

class Markup;

// A cursor into a parsed document; cheap to copy, valid while the document lives.
class MarkupNode {
 public:
  static constexpr int kMaxAttributes = 64;

  MarkupNode() = default;
  bool IsValid() const { return owner_ != nullptr; }

  MarkupNode GetParent() const;
  MarkupNode GetSibling() const;
  MarkupNode GetChild() const;
  bool HasChildren() const;
  bool HasAttributes() const { return GetAttributeCount() > 0; }

  const wchar_t* GetName() const;
  std::wstring GetValue() const;  // the element's text

  int GetAttributeCount() const;
  const wchar_t* GetAttributeName(int index) const;
  const wchar_t* GetAttributeValue(int index) const;
  // The first attribute of that name, or null.
  const wchar_t* GetAttributeValue(const wchar_t* name) const;

 private:
  friend class Markup;
  MarkupNode(const Markup* owner, size_t element) : owner_(owner), element_(element) {}

  const Markup* owner_ = nullptr;
  size_t element_ = 0;
};

// One document: load, then read through MarkupNode. Parsing writes terminators and entity
// replacements into its own copy of the text, so nodes point straight into that buffer.
class Markup {
 public:
  enum Encoding { kUtf8 = 0, kUnicode = 1, kAnsi = 2 };
  static constexpr size_t kMaxFileSize = 0x400000;

  Markup() = default;
  Markup(const Markup&) = delete;
  Markup& operator=(const Markup&) = delete;

  bool Load(const std::wstring& xml);
  bool LoadFromMem(const BYTE* bytes, size_t size, int encoding = kUtf8);
  // A relative path is taken under the resource path.
  bool LoadFromFile(const std::wstring& path, int encoding = kUtf8);
  void Release();
  bool IsValid() const { return !elements_.empty(); }

  MarkupNode GetRoot() const;

  const std::wstring& GetLastErrorMessage() const { return error_message_; }
  const std::wstring& GetLastErrorLocation() const { return error_location_; }

 private:
  friend class MarkupNode;
  static constexpr size_t kNone = static_cast<size_t>(-1);

  struct Element {
    size_t name = 0;  // offset of the zero-terminated name
    size_t parent = kNone;
    size_t child = kNone;
    size_t next = kNone;
    size_t last_child = kNone;  // for appending siblings while parsing
    size_t text = 0;            // offset and length of the element's text
    size_t text_length = 0;
    size_t first_attribute = 0;
    size_t attribute_count = 0;
  };
  struct Attribute {
    size_t name = 0;
    size_t value = 0;
  };

  bool Parse();
  bool Fail(const wchar_t* message, size_t position);
  size_t AddElement(size_t parent, size_t name);
  // Replaces entities in [begin, end) and returns the new end.
  size_t ReplaceEntities(size_t begin, size_t end);
  void SkipWhitespace(size_t& pos) const;

  std::vector<wchar_t> text_;  // the document, zero-terminated
  size_t length_ = 0;
  std::vector<Element> elements_;  // [0] is the document itself
  std::vector<Attribute> attributes_;
  std::wstring error_message_;
  std::wstring error_location_;
};

}  // namespace ui
