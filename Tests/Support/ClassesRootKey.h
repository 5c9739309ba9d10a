// A key of HKEY_CLASSES_ROOT that a test writes: under Wine the registry override does not separate
// HKEY_CLASSES_ROOT, so a test uses keys of its own below the real root and this object deletes
// them (with everything below) when it is made and again when it goes.
#pragma once

#include <utility>

#include "UnicodeString.h"
#include "VrnWindows.h"

namespace TestSupport {

class CClassesRootKey {
 public:
  explicit CClassesRootKey(Vrn::CUnicodeString path) : m_path(std::move(path)) { Delete(); }
  ~CClassesRootKey() { Delete(); }
  CClassesRootKey(const CClassesRootKey&) = delete;
  CClassesRootKey& operator=(const CClassesRootKey&) = delete;
  const Vrn::CUnicodeString& Path() const noexcept { return m_path; }

 private:
  void Delete() noexcept {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, m_path.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, m_path.c_str());
  }
  Vrn::CUnicodeString m_path;
};

}  // namespace TestSupport
