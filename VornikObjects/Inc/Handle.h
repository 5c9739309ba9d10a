// Vrn::CUniqueHandle: one move-only owner for every kind of Windows handle.
#pragma once

#include <utility>

#include "VrnWindows.h"

namespace Vrn {

// Traits give the handle type, its invalid value and how to close it.
template <class Traits>
class CUniqueHandle {
 public:
  using Type = typename Traits::Type;

  CUniqueHandle() noexcept = default;
  explicit CUniqueHandle(Type handle) noexcept : m_handle(handle) {}
  CUniqueHandle(const CUniqueHandle&) = delete;
  CUniqueHandle& operator=(const CUniqueHandle&) = delete;
  CUniqueHandle(CUniqueHandle&& other) noexcept : m_handle(other.Release()) {}
  CUniqueHandle& operator=(CUniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~CUniqueHandle() { Reset(); }

  Type Get() const noexcept { return m_handle; }
  bool IsValid() const noexcept { return m_handle != Traits::Invalid(); }
  explicit operator bool() const noexcept { return IsValid(); }
  // Gives up ownership without closing.
  Type Release() noexcept { return std::exchange(m_handle, Traits::Invalid()); }
  void Reset(Type handle = Traits::Invalid()) noexcept {
    const Type old = std::exchange(m_handle, handle);
    if (old != Traits::Invalid()) Traits::Close(old);
  }
  // For out-parameters: closes the current handle and returns the slot to fill.
  Type* Put() noexcept {
    Reset();
    return &m_handle;
  }

 private:
  Type m_handle = Traits::Invalid();
};

struct CKernelHandleTraits {  // process, thread, event, mutex, pipe: null is invalid
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct CFileHandleTraits {  // CreateFileW: INVALID_HANDLE_VALUE is invalid
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct CFindHandleTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Type h) noexcept { ::FindClose(h); }
};
struct CRegKeyTraits {
  using Type = HKEY;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::RegCloseKey(h); }
};
struct CModuleTraits {
  using Type = HMODULE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { ::FreeLibrary(h); }
};

using CKernelHandle = CUniqueHandle<CKernelHandleTraits>;
using CFileHandle = CUniqueHandle<CFileHandleTraits>;
using CFindHandle = CUniqueHandle<CFindHandleTraits>;
using CRegKeyHandle = CUniqueHandle<CRegKeyTraits>;
using CModuleHandle = CUniqueHandle<CModuleTraits>;

}  // namespace Vrn
