// Benchmark program entry: dispatches to the registered benchmarks.
#include <cstdio>
#include <map>

#include "Bench.h"
#include "VrnWindows.h"
// psapi after windows.h
#include <psapi.h>

namespace Bench {
namespace {
struct Entry {
  const wchar_t* usage;
  Function function;
};
std::map<std::wstring, Entry>& Benchmarks() {
  static std::map<std::wstring, Entry> benchmarks;
  return benchmarks;
}
}  // namespace

Registration::Registration(const wchar_t* name, const wchar_t* usage, Function function) {
  Benchmarks()[name] = {usage, function};
}

uint64_t PeakMemoryBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize;
}

double NowSeconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace Bench

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  auto& benchmarks = Bench::Benchmarks();
  if (!args.empty()) {
    // Accept both "xml FILE" and "--xml FILE".
    std::wstring name = args[0];
    if (name.rfind(L"--", 0) == 0) name = name.substr(2);
    const auto found = benchmarks.find(name);
    if (found == benchmarks.end()) {
      std::fwprintf(stderr, L"usage: bench [NAME [ARGS]]\n");
      for (const auto& [key, entry] : benchmarks) std::fwprintf(stderr, L"  %ls\n", entry.usage);
      return 2;
    }
    return found->second.function(std::vector<std::wstring>(args.begin() + 1, args.end()));
  }
  int result = 0;
  for (const auto& [key, entry] : benchmarks) result |= entry.function({});
  return result;
}
