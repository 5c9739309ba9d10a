// A server program for the self-registration tests: appends "<own file name> <arguments>" to
// calls.txt beside itself and exits with 0.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring self = path;
  const size_t slash = self.find_last_of(L'\\');
  std::wstring line = self.substr(slash + 1);
  for (int index = 1; index < argc; ++index) line += L" " + std::wstring(argv[index]);
  if (FILE* calls = _wfopen((self.substr(0, slash + 1) + L"calls.txt").c_str(), L"ab")) {
    std::fprintf(calls, "%ls\n", line.c_str());
    std::fclose(calls);
  }
  return 0;
}
