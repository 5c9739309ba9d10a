// A stand-in for the system's feature tool in a Wine prefix, whose own "dism" prints nothing (and,
// copied as wmic.exe, for the update listing Wine's "wmic" lacks). Installed as system32\dism.exe,
// it copies the file beside it named like it with ".txt" (dism.txt) to standard output byte for
// byte, whatever the command; then, given "/Sleep:SECONDS", it sleeps that long, so that a run can
// outlast its time limit. Exits with 0.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
  wchar_t path[MAX_PATH] = {};
  std::wstring listing(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  listing.replace(listing.find_last_of(L'.'), std::wstring::npos, L".txt");
  if (FILE* file = _wfopen(listing.c_str(), L"rb")) {
    _setmode(_fileno(stdout), _O_BINARY);
    char buffer[4096];
    for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, file)) > 0;) std::fwrite(buffer, 1, read, stdout);
    std::fclose(file);
    std::fflush(stdout);
  }
  for (int index = 1; index < argc; ++index)
    if (_wcsnicmp(argv[index], L"/Sleep:", 7) == 0) ::Sleep(static_cast<DWORD>(_wtoi(argv[index] + 7)) * 1000);
  return 0;
}
