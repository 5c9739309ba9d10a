// Fakes of the network-name and browse-dialog seams: mapped drives and DFS links given by the
// test, and a browse dialog that "chooses" a folder or a computer.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FolderBrowser.h"
#include "NetworkNames.h"

namespace TestSupport {

// Answers WNetGetUniversalName from maps of local path to universal name (ERROR_NOT_CONNECTED
// for any other path) and NetDfsGetInfo from a map of DFS path to storages (NERR_DfsNoSuchVolume
// otherwise). Every DFS question is recorded.
class CFakeNetworkNames : public Msi::CNetworkNames {
 public:
  std::map<std::wstring, std::wstring> wideNames;
  std::map<std::string, std::string> ansiNames;  // answered only by the ANSI function
  std::map<std::wstring, std::vector<Msi::CDfsStorage>> dfsLinks;
  bool dfsAvailable = true;
  bool neverEnoughRoom = false;  // every call asks for a bigger buffer
  std::vector<std::wstring> dfsQueries;
  int universalCalls = 0;

  DWORD UniversalNameW(const wchar_t* path, DWORD, void* buffer, DWORD* size) override {
    return Answer(wideNames, std::wstring(path), buffer, size);
  }
  DWORD UniversalNameA(const char* path, DWORD, void* buffer, DWORD* size) override {
    return Answer(ansiNames, std::string(path), buffer, size);
  }
  DWORD DfsStorages(const wchar_t* path, std::vector<Msi::CDfsStorage>& storages) override {
    storages.clear();
    dfsQueries.push_back(path);
    if (!dfsAvailable) return ERROR_PROC_NOT_FOUND;
    const auto link = dfsLinks.find(path);
    if (link == dfsLinks.end()) return 2662;  // NERR_DfsNoSuchVolume
    storages = link->second;
    return 0;
  }

 private:
  // Fills a REMOTE_NAME_INFO record (three pointers, then the universal name) as Windows does.
  template <class Text>
  DWORD Answer(const std::map<Text, Text>& names, const Text& path, void* buffer, DWORD* size) {
    ++universalCalls;
    const auto found = names.find(path);
    if (found == names.end()) return ERROR_NOT_CONNECTED;
    using Char = typename Text::value_type;
    const DWORD needed = static_cast<DWORD>(3 * sizeof(Char*) + (found->second.size() + 1) * sizeof(Char));
    if (neverEnoughRoom || *size < needed) {
      *size = needed + (neverEnoughRoom ? 64 : 0);
      return ERROR_MORE_DATA;
    }
    auto** fields = static_cast<Char**>(buffer);
    Char* text = reinterpret_cast<Char*>(fields + 3);
    std::memcpy(text, found->second.c_str(), (found->second.size() + 1) * sizeof(Char));
    fields[0] = text;
    fields[1] = fields[2] = nullptr;
    return NO_ERROR;
  }
};

// Records what the dialog was asked to show; "chooses" the folder (as an item list) and fills the
// display name, or cancels when folder is empty. duringBrowse runs while the dialog is "open".
class CFakeFolderBrowser : public Msi::CFolderBrowser {
 public:
  std::wstring folder;
  std::wstring displayName;
  std::function<void()> duringBrowse;
  struct CRequest {
    std::wstring title;
    UINT flags;
  };
  std::vector<CRequest> requests;

  PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW& info) override {
    requests.push_back({info.lpszTitle ? info.lpszTitle : L"", info.ulFlags});
    if (duringBrowse) duringBrowse();
    if (folder.empty()) return nullptr;
    wcsncpy(info.pszDisplayName, displayName.c_str(), MAX_PATH);
    return ::ILCreateFromPathW(folder.c_str());
  }
};

}  // namespace TestSupport
