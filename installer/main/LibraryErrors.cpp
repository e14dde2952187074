// The standard library's error throws, made without the strings of its own exception classes.
#include <bits/functexcept.h>

#include <exception>
#include <new>
#include <typeinfo>

namespace {

// The library's own logic and runtime errors carry their message in a reference-counted string
// of the old ABI, and defining the throws here keeps that second string implementation (some
// 50 KB) out of the image. Every boundary catches std::exception and logs what() alone, and
// nothing in the program catches the narrower types, so this class says all they said.
class LibraryError : public std::exception {
 public:
  explicit LibraryError(const char* what) noexcept : what_(what ? what : "library error") {}
  const char* what() const noexcept override { return what_; }

 private:
  const char* what_;  // the library passes string literals
};

}  // namespace

namespace std {

void __throw_bad_exception() {
  throw bad_exception();
}
void __throw_bad_alloc() {
  throw bad_alloc();
}
void __throw_bad_array_new_length() {
  throw bad_array_new_length();
}
void __throw_bad_cast() {
  throw bad_cast();
}
void __throw_bad_typeid() {
  throw bad_typeid();
}
void __throw_logic_error(const char* what) {
  throw LibraryError(what);
}
void __throw_domain_error(const char* what) {
  throw LibraryError(what);
}
void __throw_invalid_argument(const char* what) {
  throw LibraryError(what);
}
void __throw_length_error(const char* what) {
  throw LibraryError(what);
}
void __throw_out_of_range(const char* what) {
  throw LibraryError(what);
}
// The format's numbers are left out: the message names the call, which is what the log needs.
void __throw_out_of_range_fmt(const char* format, ...) {
  throw LibraryError(format);
}
void __throw_runtime_error(const char* what) {
  throw LibraryError(what);
}
void __throw_range_error(const char* what) {
  throw LibraryError(what);
}
void __throw_overflow_error(const char* what) {
  throw LibraryError(what);
}
void __throw_underflow_error(const char* what) {
  throw LibraryError(what);
}

}  // namespace std
