// The real browse dialog.
#include "FolderBrowser.h"

#include <objbase.h>

namespace Msi {

namespace {

CFolderBrowser g_realFolderBrowser;
CFolderBrowser* g_folderBrowser = &g_realFolderBrowser;

}  // namespace

PIDLIST_ABSOLUTE CFolderBrowser::BrowseForFolder(BROWSEINFOW& info) {
  // The dialog of the new style is an OLE control host: it needs a single-threaded apartment.
  const HRESULT initialised = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const PIDLIST_ABSOLUTE chosen = ::SHBrowseForFolderW(&info);
  if (SUCCEEDED(initialised)) ::CoUninitialize();
  return chosen;
}

CFolderBrowser& FolderBrowser() { return *g_folderBrowser; }

CFolderBrowserOverride::CFolderBrowserOverride(CFolderBrowser& replacement) : m_previous(g_folderBrowser) {
  g_folderBrowser = &replacement;
}

CFolderBrowserOverride::~CFolderBrowserOverride() { g_folderBrowser = m_previous; }

}  // namespace Msi
