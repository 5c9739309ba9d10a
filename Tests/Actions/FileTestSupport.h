// Helpers of the file-action tests: small files, existence, a file held open by the test, and the
// current directory moved for one test.
#pragma once

#include <string>

#include "Handle.h"
#include "TestSupport.h"
#include "UnicodeString.h"
#include "VrnWindows.h"

namespace FileTests {

inline bool Exists(const Vrn::CUnicodeString& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Writes the file, creating its missing folders.
inline void WriteText(const Vrn::CUnicodeString& path, const std::string& text) {
  for (size_t cut = path.Find(L'\\', 3); cut != Vrn::CUnicodeString::npos; cut = path.Find(L'\\', cut + 1))
    CreateDirectoryW(path.Left(cut).c_str(), nullptr);
  TestSupport::WriteBytes(path, text);
}

// Holds a file open for reading without FILE_SHARE_DELETE: deleting it fails with 32.
class CLockedFile {
 public:
  explicit CLockedFile(const Vrn::CUnicodeString& path)
      : m_handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  void Unlock() { m_handle.Reset(); }

 private:
  Vrn::CFileHandle m_handle;
};

// Makes `folder` the current directory (so a path without a drive is found on its drive).
class CCurrentDirectory {
 public:
  explicit CCurrentDirectory(const Vrn::CUnicodeString& folder) {
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    m_previous = previous;
    SetCurrentDirectoryW(folder.c_str());
  }
  ~CCurrentDirectory() { SetCurrentDirectoryW(m_previous.c_str()); }
  CCurrentDirectory(const CCurrentDirectory&) = delete;
  CCurrentDirectory& operator=(const CCurrentDirectory&) = delete;

 private:
  Vrn::CUnicodeString m_previous;
};

}  // namespace FileTests
