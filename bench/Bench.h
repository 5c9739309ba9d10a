// The benchmark program: each benchmark registers itself by name; `bench NAME [args]` runs one,
// `bench` alone runs each with its default, generated input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Bench {

using Function = int (*)(const std::vector<std::wstring>& args);

struct Registration {
  Registration(const wchar_t* name, const wchar_t* usage, Function function);
};

// Peak working set of this process so far, in bytes.
uint64_t PeakMemoryBytes();
// Monotonic seconds.
double NowSeconds();

}  // namespace Bench
