// The real browse dialog.
#include "FolderBrowser.h"

#include <objbase.h>

namespace Msi {

PIDLIST_ABSOLUTE CFolderBrowser::BrowseForFolder(BROWSEINFOW& info) {
  // The dialog of the new style is an OLE control host: it needs a single-threaded apartment.
  const HRESULT initialised = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
  if (SUCCEEDED(initialised)) ::CoUninitialize();
  return chosen;
}

}  // namespace Msi
