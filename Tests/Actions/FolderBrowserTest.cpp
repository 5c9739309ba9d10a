// The real browse dialog, in a child process with a time limit: without a display it cannot open
// and comes back at once with nothing chosen.
#include "ChildProcessTest.h"
#include "FolderBrowser.h"

TIMED_CHILD_TEST(FolderBrowserReal, ReturnsWithoutADisplay, 60000) {
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.pszDisplayName = displayName;
  info.lpszTitle = L"Orvant test";
  info.ulFlags = BIF_BROWSEFORCOMPUTER;
  EXPECT_FALSE(Msi::CItemList(Msi::CFolderBrowser().BrowseForFolder(info)));
}
