// Vrn::CRegistryKey: one open registry key with a display name, opened for reading or writing in an
// explicit registry view. Writes and deletes that fail raise ERR_CANT_WRITE_TO_REGISTRY. A key name
// or value name longer than the registry takes raises ERR_VALUE_TOO_LONG (TextLimits.h) before the
// registry is asked, also where a failure otherwise only answers false or the default.
#pragma once

#include <cstdint>
#include <vector>

#include "Handle.h"
#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Vrn {

enum class RegistryMode { Closed, Read, Write };
// Default opens the 64-bit view, as Sixty4 does.
enum class RegistryView { Sixty4 = 0, Thirty2 = 1, Default = 2 };

struct CRegistryKeyInfo {
  DWORD subKeys = 0;
  DWORD maxSubKeyLength = 0;
  DWORD values = 0;
  DWORD maxValueNameLength = 0;
  DWORD maxValueDataLength = 0;
  DWORD securityDescriptorSize = 0;
};

// "HKEY_LOCAL_MACHINE" and the other eight predefined roots; empty for any other handle.
CUnicodeString RegistryRootName(HKEY root) noexcept;

class CRegistryKey {
 public:
  CRegistryKey() = default;
  CRegistryKey(const CRegistryKey&) = delete;
  CRegistryKey& operator=(const CRegistryKey&) = delete;
  CRegistryKey(CRegistryKey&&) noexcept = default;
  CRegistryKey& operator=(CRegistryKey&&) noexcept = default;
  ~CRegistryKey() { Close(); }

  // Opens root\path (read: RegOpenKeyExW; write: RegCreateKeyExW, or the root itself for an empty
  // path). The Windows result becomes the last error; false leaves the key closed. Opening an open
  // key is an internal error.
  bool Open(HKEY root, const CUnicodeString& path, RegistryMode mode, RegistryView view = RegistryView::Default);
  // As Open, below another open key; the display name is extended by the path.
  bool Open(const CRegistryKey& parent, const CUnicodeString& path, RegistryMode mode);
  void Close() noexcept;

  bool IsOpen() const noexcept { return m_key.IsValid(); }
  RegistryMode Mode() const noexcept { return m_mode; }
  RegistryView View() const noexcept { return m_view; }
  const CUnicodeString& Name() const noexcept { return m_name; }
  HKEY Handle() const noexcept { return m_key.Get(); }

  // The value's registry type / data size; 0 when closed or missing (errors 2, 3, 1018); other
  // failures raise.
  DWORD ValueType(const CUnicodeString& name) const;
  DWORD ValueSize(const CUnicodeString& name) const;
  // Bytes read into buffer, 0 on any failure (the Windows result becomes the last error).
  DWORD ReadRaw(const CUnicodeString& name, void* buffer, DWORD size) const;
  // The stored REG_SZ / REG_EXPAND_SZ text (unexpanded), or the default.
  CUnicodeString ReadString(const CUnicodeString& name, const CUnicodeString& defaultValue = {}) const;

  // Writes need write mode; failures raise ERR_CANT_WRITE_TO_REGISTRY with name\value.
  void WriteValue(const CUnicodeString& name, DWORD type, const void* data, DWORD size);
  void WriteString(const CUnicodeString& name, const CUnicodeString& value);
  void WriteDword(const CUnicodeString& name, uint32_t value);
  void DeleteValue(const CUnicodeString& name);
  // Deletes path and everything below it, depth first; a subkey that cannot be opened or deleted
  // raises ERR_CANT_WRITE_TO_REGISTRY naming it. An empty path is an internal error.
  void DeleteSubKeyTree(const CUnicodeString& path);

  // Appends the subkey names to a cleared list; true when the enumeration reached its end.
  bool EnumerateSubKeys(std::vector<CUnicodeString>& names) const;
  bool QueryInfo(CRegistryKeyInfo& info) const;

 private:
  bool OpenNamed(HKEY root, const CUnicodeString& rootName, const CUnicodeString& path, RegistryMode mode,
                 RegistryView view);
  void CheckWritable() const;

  CRegKeyHandle m_key;
  RegistryMode m_mode = RegistryMode::Closed;
  RegistryView m_view = RegistryView::Default;
  CUnicodeString m_name;
};

}  // namespace Vrn
