// Tables of one system library's exports, each name written once in a list that both declares
// the table's slots and binds them.
#pragma once

#include "base/SystemLibrary.h"

// A table names its functions in one list macro, LIST(X) expanding X(name) per export, and
// its body is NBASE_SYSTEM_FUNCTION_TABLE(LIST): a slot per function, typed after the SDK's own
// declaration so that a wrong signature does not compile, and `complete`, true when every
// slot was bound.
#define NBASE_SYSTEM_FUNCTION_SLOT(name) decltype(&::name) name = nullptr;
#define NBASE_BIND_SYSTEM_FUNCTION(name) bind(name, #name);
#define NBASE_SYSTEM_FUNCTION_TABLE(LIST) \
  LIST(NBASE_SYSTEM_FUNCTION_SLOT)        \
  template <typename Binder>              \
  void BindEach(Binder& bind) {           \
    LIST(NBASE_BIND_SYSTEM_FUNCTION)      \
  }                                       \
  bool complete = false;

namespace nbase {

// Binds every slot of `Table` from `library`; `complete` tells whether all of them were found.
template <typename Table>
Table BindSystemTable(const wchar_t* library) {
  Table table;
  SystemFunctionBinder bind(library);
  table.BindEach(bind);
  table.complete = bind.complete();
  return table;
}

}  // namespace nbase
