// One ownership policy for every OS handle: a move-only wrapper parameterised by how to close it.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <utility>

namespace nbase {

// Traits supply the handle type, its "empty" value and how to release it. The wrapper never
// touches GetLastError, so an error captured at a failing call survives the cleanup that follows.
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept : value_(Traits::Invalid()) {}
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  Type release() noexcept {
    Type value = value_;
    value_ = Traits::Invalid();
    return value;
  }

  void reset(Type value = Traits::Invalid()) noexcept {
    if (value_ != Traits::Invalid()) {
      const DWORD saved_error = ::GetLastError();
      Traits::Close(value_);
      ::SetLastError(saved_error);
    }
    value_ = value;
  }

  // For out-parameters of APIs: releases what is held and hands out the slot.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_;
};

// Traits of the common kind of handle: empty when null, released by one function.
template <typename T, auto kRelease>
struct NullableTraits {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { kRelease(h); }
};

using HandleTraits = NullableTraits<HANDLE, &::CloseHandle>;

// CreateFile, CreateToolhelp32Snapshot and friends report failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};

using ModuleTraits = NullableTraits<HMODULE, &::FreeLibrary>;
using WindowTraits = NullableTraits<HWND, &::DestroyWindow>;
using StdioFileTraits = NullableTraits<FILE*, &::fclose>;
using CoTaskMemTraits = NullableTraits<void*, &::CoTaskMemFree>;
using GlobalMemoryTraits = NullableTraits<HGLOBAL, &::GlobalFree>;

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFileHandle = UniqueResource<FileHandleTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueWindow = UniqueResource<WindowTraits>;
using UniqueStdioFile = UniqueResource<StdioFileTraits>;
using UniqueCoTaskMem = UniqueResource<CoTaskMemTraits>;
using UniqueGlobalMemory = UniqueResource<GlobalMemoryTraits>;

// Locks a movable global block for one scope.
class ScopedGlobalLock {
 public:
  explicit ScopedGlobalLock(HGLOBAL block) noexcept : block_(block), data_(::GlobalLock(block)) {}
  ~ScopedGlobalLock() {
    if (data_) ::GlobalUnlock(block_);
  }
  ScopedGlobalLock(const ScopedGlobalLock&) = delete;
  ScopedGlobalLock& operator=(const ScopedGlobalLock&) = delete;
  void* data() const noexcept { return data_; }

 private:
  HGLOBAL block_;
  void* data_;
};

// Owning COM interface pointer: Release on reset, AddRef never implied.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  // Takes over the reference the caller holds (a new object's first one, say).
  explicit ComPtr(T* adopted) noexcept : ptr_(adopted) {}
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      reset();
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }

  T* get() const noexcept { return ptr_; }
  T* operator->() const noexcept { return ptr_; }
  T& operator*() const noexcept { return *ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }
  void reset() noexcept {
    if (ptr_) std::exchange(ptr_, nullptr)->Release();
  }
  T** put() noexcept {
    reset();
    return &ptr_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

 private:
  T* ptr_ = nullptr;
};

// Balances CoInitialize on the calling thread; only uninitialises what succeeded.
class ScopedCoInitialize {
 public:
  ScopedCoInitialize() noexcept : hr_(::CoInitialize(nullptr)) {}
  ~ScopedCoInitialize() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  ScopedCoInitialize(const ScopedCoInitialize&) = delete;
  ScopedCoInitialize& operator=(const ScopedCoInitialize&) = delete;
  HRESULT result() const noexcept { return hr_; }

 private:
  HRESULT hr_;
};

}  // namespace nbase
