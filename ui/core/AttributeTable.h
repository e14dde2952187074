// A class's markup attributes as one table: a name is looked up once, not tried down a chain.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <utility>

namespace ui {

// Each class that reads attributes keeps one static table inside its SetAttribute override, so
// the handlers written there reach its private members; a name the table lacks goes on to the
// base class. UI thread only, like the controls it serves.
template <typename Owner>
class AttributeTable {
 public:
  using Handler = std::function<void(Owner& self, const std::wstring& value)>;

  AttributeTable(std::initializer_list<std::pair<const wchar_t*, Handler>> entries) {
    for (const auto& entry : entries) Add(entry.first, entry.second);
  }

  // For families of names (one per control state) that are easier made in a loop.
  void Add(const std::wstring& name, Handler handler) { handlers_[name] = std::move(handler); }

  // False when `name` is not in the table.
  bool Apply(Owner& self, const std::wstring& name, const std::wstring& value) const {
    const auto found = handlers_.find(name);
    if (found == handlers_.end()) return false;
    found->second(self, value);
    return true;
  }

 private:
  std::unordered_map<std::wstring, Handler> handlers_;
};

}  // namespace ui
