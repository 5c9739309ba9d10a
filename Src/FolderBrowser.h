// The shell's modal folder and computer browse dialog (SHBrowseForFolderW), reached through
// CFolderBrowser so that tests can pick a folder or a computer without a dialog.
#pragma once

#include "Handle.h"
#include "Seam.h"
#include "VrnWindows.h"
// shlobj.h after windows.h
#include <shlobj.h>

namespace Msi {

// The real implementation shows the dialog; tests derive from it and install their fake with
// CFolderBrowserOverride.
class CFolderBrowser {
 public:
  virtual ~CFolderBrowser() = default;
  // Shows the dialog described by info (COM initialised for the call's thread when it was not):
  // the chosen item (the caller frees it with CoTaskMemFree) with info.pszDisplayName filled, or
  // null when the user cancelled or the dialog could not be shown.
  virtual PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW& info);
};

// The implementation in use (the real one unless a test replaced it).
inline CFolderBrowser& FolderBrowser() noexcept { return Vrn::CSeam<CFolderBrowser>::Current(); }
using CFolderBrowserOverride = Vrn::CSeam<CFolderBrowser>::COverride;

// Owns an item list of the shell allocator (CoTaskMemFree).
struct CItemListTraits {
  using Type = PIDLIST_ABSOLUTE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type list) noexcept { ::CoTaskMemFree(list); }
};
using CItemList = Vrn::CUniqueHandle<CItemListTraits>;

}  // namespace Msi
