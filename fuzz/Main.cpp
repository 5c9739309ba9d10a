// The fuzz driver of `make fuzz`: mutates the inputs of each parser in one process for its share of
// the time budget, checks every mutant, and prints the seed, the inputs per second and the total.
//
//   fuzz [--seconds N] [--seed S] [--only xml|zip] [--threads N] [--index I] [--sandbox DIR]
//
// Mutant I of seed S depends on nothing else, so a failure is reproduced by running the same seed
// again, or that one mutant alone with --index. An input that breaks an invariant, crashes (caught
// by a vectored exception handler and the unhandled-exception filter) or hangs (caught by a
// watchdog thread) is saved as Tests\Data\<parser>\fuzz-<kind>-<seed>-<index>.<parser>; a crash or
// a hang ends the run, a broken invariant is counted and the run goes on. The targets write into
// the sandbox folder (--sandbox, else a new temporary folder), which the caller removes afterwards.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>
#include <thread>

#include "Files.h"
#include "Fuzz.h"
#include "VrnWindows.h"

namespace Fuzz {

std::vector<std::string> ReadCorpus(const wchar_t* target, uint64_t maxBytes) {
  const Vrn::CUnicodeString folder = Vrn::CUnicodeString(ORV_SOURCE_DIR_WINE L"\\Tests\\Data\\") + target;
  std::vector<std::string> inputs;
  for (const Vrn::CDirectoryEntry& file :
       Vrn::ListDirectory(folder, Vrn::CUnicodeString(L"*.") + target, Vrn::ListFiles))
    if (file.size <= maxBytes && !file.name.StartsWith(L"fuzz-")) inputs.push_back(Vrn::ReadFileBytes(file.fullPath));
  return inputs;
}

namespace {
Vrn::CUnicodeString g_sandbox;
}  // namespace

const Vrn::CUnicodeString& SandboxFolder() { return g_sandbox; }

namespace {

// A mutant that makes no progress for this long is a hang: the largest base takes milliseconds.
constexpr unsigned kHangSeconds = 30;
// A run stops after this many broken invariants (they are usually one fault).
constexpr uint64_t kMaxFailures = 20;
// The crash code that stands for abort().
constexpr DWORD kAbortCode = 3;

// splitmix64: small, fast and good enough to pick mutations.
class CRandom {
 public:
  explicit CRandom(uint64_t seed) : m_state(seed) {}
  uint64_t operator()() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
  }
  size_t Below(size_t bound) { return bound ? static_cast<size_t>((*this)() % bound) : 0; }

 private:
  uint64_t m_state;
};

// Mutant `index` of `seed`: a base with one to four edits, written into out (whose buffer is reused).
void MakeMutant(const CTarget& target, uint64_t seed, uint64_t index, std::string& out) {
  CRandom random(seed ^ (index * 0xD1B54A32D192ED03));
  out.assign(target.bases[random.Below(target.bases.size())]);
  for (size_t edits = 1 + random.Below(4); edits > 0; --edits) {
    const size_t size = out.size();
    // Half the edits land in the last 512 bytes, where a zip keeps its directory.
    size_t at = random.Below(size + 1);
    if (random() % 2 && size > 512) at = size - random.Below(513);
    const size_t span = 1 + random.Below(random() % 2 ? 8 : 64);
    const std::string_view token = target.tokens[random.Below(target.tokens.size())];
    switch (random.Below(6)) {
      case 0:  // random bytes
        for (size_t n = std::min(span, size - std::min(at, size)); n > 0; --n)
          out[at + n - 1] = static_cast<char>(random());
        break;
      case 1:  // a token inserted
        out.insert(at, token);
        break;
      case 2:  // a token over the bytes there (a field set to a boundary value)
        out.replace(at, std::min(token.size(), size - at), token);
        break;
      case 3:  // bytes removed
        out.erase(at, span);
        break;
      case 4:  // bytes from elsewhere inserted (repeated elements, headers pointing at each other)
        out.insert(at, out.substr(random.Below(size + 1), span));
        break;
      default:  // cut short, or bytes from elsewhere copied over
        if (random() % 4 == 0) {
          out.resize(at);
        } else {
          const size_t from = random.Below(size + 1), length = std::min({span, size - from, size - at});
          out.replace(at, length, out.substr(from, length));
        }
    }
  }
}

// The run under way, and each worker's current input: what the crash handler and the watchdog need.
struct CWorker {
  std::atomic<uint64_t> index{0};
  std::atomic<uint64_t> checked{0};
  std::atomic<bool> busy{false};
  // Held while the worker makes its next input, and by the watchdog while it saves a hung one, so
  // that a check ending just then cannot change the input under the watchdog.
  std::mutex inputLock;
  std::string input;
};
constexpr size_t kMaxWorkers = 8;
// Set before each run's workers start, read by the watchdog, which runs all along.
struct CRunState {
  std::atomic<const CTarget*> target{nullptr};
  std::atomic<uint64_t> seed{0};
  CWorker workers[kMaxWorkers];
  std::atomic<bool> ending{false};
} g_run;
thread_local CWorker* t_worker = nullptr;

// Writes the input to the target's corpus folder and reports it with the way to replay it. Uses no
// heap, so that it also works from a crash handler.
void SaveInput(const CTarget& target, uint64_t seed, uint64_t index, const std::string& input, const char* kind,
               const char* detail) {
  wchar_t path[MAX_PATH + 64];
  std::swprintf(path, std::size(path), L"%ls\\Tests\\Data\\%ls\\fuzz-%hs-%016llx-%llu.%ls", ORV_SOURCE_DIR_WINE,
                target.name, kind, static_cast<unsigned long long>(seed), static_cast<unsigned long long>(index),
                target.name);
  const HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool saved = file != INVALID_HANDLE_VALUE &&
                     ::WriteFile(file, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  std::fprintf(stderr,
               "%ls: %s at mutant %llu of seed 0x%016llx: %s\n  %s %ls\n  replay: make fuzz FUZZ_ARGS='--only %ls "
               "--seed 0x%016llx --index %llu'\n",
               target.name, kind, static_cast<unsigned long long>(index), static_cast<unsigned long long>(seed), detail,
               saved ? "saved as" : "could not save", path, target.name, static_cast<unsigned long long>(seed),
               static_cast<unsigned long long>(index));
  std::fflush(stderr);
}

// Saves the current input and ends the process (a crash or a hang cannot be recovered from).
[[noreturn]] void SaveAndExit(const CWorker* worker, const char* kind, const char* detail) {
  if (!g_run.ending.exchange(true) && worker && worker->busy)
    SaveInput(*g_run.target.load(), g_run.seed, worker->index, worker->input, kind, detail);
  ::TerminateProcess(::GetCurrentProcess(), 3);
  std::_Exit(3);
}

// A crash is saved by the watchdog thread: the crashed thread may have no stack left.
HANDLE g_crashed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
std::atomic<DWORD> g_crashCode{0};
std::atomic<const CWorker*> g_crashedWorker{nullptr};

[[noreturn]] void HandleCrash(DWORD code) {
  g_crashCode = code;
  g_crashedWorker = t_worker;
  ::SetEvent(g_crashed);
  for (;;) ::Sleep(INFINITE);
}

// Faults that no code of ours handles. Wine itself takes and handles first-chance access violations
// inside its own modules, so those count only when they happen in this program's image.
LONG CALLBACK VectoredHandler(EXCEPTION_POINTERS* pointers) {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  const auto address = reinterpret_cast<uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
  const auto image = reinterpret_cast<uintptr_t>(::GetModuleHandleW(nullptr));
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
  const bool ours = address >= image && address < image + nt->OptionalHeader.SizeOfImage;
  switch (code) {
    case EXCEPTION_STACK_OVERFLOW:
    case STATUS_HEAP_CORRUPTION:
    case STATUS_STACK_BUFFER_OVERRUN:
      HandleCrash(code);
      break;
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
      if (ours) HandleCrash(code);
      break;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* pointers) {
  HandleCrash(pointers->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Saves the input of a crashed worker, or of one that made no progress for kHangSeconds.
void Watchdog() {
  uint64_t seen[kMaxWorkers] = {};
  unsigned still[kMaxWorkers] = {};
  for (;;) {
    if (::WaitForSingleObject(g_crashed, 1000) == WAIT_OBJECT_0) {
      char detail[64];
      const DWORD code = g_crashCode;
      if (code == kAbortCode)
        std::snprintf(detail, sizeof detail, "abort");
      else
        std::snprintf(detail, sizeof detail, "exception 0x%08lX", static_cast<unsigned long>(code));
      SaveAndExit(g_crashedWorker, "crash", detail);
    }
    for (size_t i = 0; i < kMaxWorkers; ++i) {
      const CWorker& worker = g_run.workers[i];
      const uint64_t checked = worker.checked;
      still[i] = worker.busy && checked == seen[i] ? still[i] + 1 : 0;
      seen[i] = checked;
      if (still[i] < kHangSeconds) continue;
      std::lock_guard lock(g_run.workers[i].inputLock);
      if (worker.busy && worker.checked == checked) SaveAndExit(&worker, "hang", "no progress within the time limit");
    }
  }
}

double NowSeconds() {
  LARGE_INTEGER frequency, now;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct CRun {
  uint64_t inputs = 0;
  uint64_t failures = 0;
  double seconds = 0;
};

// Checks mutants first..last-1 of seed on `threads` workers, or until the time is up.
CRun Run(const CTarget& target, uint64_t seed, double seconds, uint64_t first, uint64_t last, size_t threads) {
  g_run.target = &target;
  g_run.seed = seed;
  std::atomic<uint64_t> next{first}, inputs{0}, failures{0};
  const double start = NowSeconds();
  const auto work = [&](CWorker& worker) {
    t_worker = &worker;
    size_t count = 0;
    for (uint64_t index = next++; index < last && failures < kMaxFailures; index = next++) {
      if (++count % 32 == 0 && NowSeconds() - start >= seconds) break;
      {
        std::lock_guard lock(worker.inputLock);
        MakeMutant(target, seed, index, worker.input);
        worker.index = index;
        worker.busy = true;
      }
      const std::string broken = target.check(worker.input);
      worker.busy = false;
      ++worker.checked;
      ++inputs;
      if (!broken.empty()) {
        ++failures;
        SaveInput(target, seed, index, worker.input, "invariant", broken.c_str());
      }
    }
  };
  std::vector<std::thread> helpers;
  for (size_t i = 1; i < threads; ++i) helpers.emplace_back(work, std::ref(g_run.workers[i]));
  work(g_run.workers[0]);
  for (std::thread& helper : helpers) helper.join();
  return {inputs, failures, NowSeconds() - start};
}

// 1234567 as "1,234,567".
std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

int Usage() {
  std::fprintf(stderr,
               "usage: fuzz [--seconds N] [--seed S] [--only xml|zip] [--threads N] [--index I] [--sandbox DIR]\n");
  return 2;
}

}  // namespace
}  // namespace Fuzz

int wmain(int argc, wchar_t** argv) {
  using namespace Fuzz;
  double seconds = 600;
  uint64_t seed = 0;
  bool seedGiven = false;
  std::wstring only;
  long long index = -1;
  size_t threads = 0;  // the target's own choice
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring option = argv[i];
    if (option == L"--seconds")
      seconds = std::wcstod(argv[i + 1], nullptr);
    else if (option == L"--seed")
      seed = std::wcstoull(argv[i + 1], nullptr, 0), seedGiven = true;
    else if (option == L"--only")
      only = argv[i + 1];
    else if (option == L"--threads")
      threads = std::clamp<size_t>(std::wcstoul(argv[i + 1], nullptr, 0), 1, kMaxWorkers);
    else if (option == L"--sandbox")
      g_sandbox = argv[i + 1];
    else if (option == L"--index")
      index = std::wcstoll(argv[i + 1], nullptr, 0);
    else
      return Usage();
  }
  if (argc % 2 == 0 || seconds <= 0 || (index >= 0 && (!seedGiven || only.empty()))) return Usage();
  if (!seedGiven) {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    seed = CRandom(static_cast<uint64_t>(now.QuadPart) ^ (uint64_t{::GetCurrentProcessId()} << 32))();
  }

  if (g_sandbox.IsEmpty()) g_sandbox = Vrn::CreateUniqueTempFolder(L"orvant-fuzz");
  Vrn::CreateDirectoryWithParents(g_sandbox);
  ::AddVectoredExceptionHandler(1, VectoredHandler);
  ::SetUnhandledExceptionFilter(UnhandledFilter);
  std::signal(SIGABRT, [](int) { HandleCrash(kAbortCode); });
  std::thread(Watchdog).detach();

  const CTarget targets[] = {XmlTarget(), ZipTarget()};
  const size_t count = only.empty() ? std::size(targets) : 1;
  uint64_t total = 0, failures = 0;
  for (const CTarget& target : targets) {
    if (!only.empty() && only != target.name) continue;
    if (target.bases.empty()) {
      std::fprintf(stderr, "%ls: no inputs in Tests\\Data\\%ls\n", target.name, target.name);
      return 2;
    }
    if (index >= 0) {
      const CRun run = Run(target, seed, 1e9, static_cast<uint64_t>(index), static_cast<uint64_t>(index) + 1, 1);
      std::printf("%ls: mutant %lld of seed 0x%016llx %s\n", target.name, index, static_cast<unsigned long long>(seed),
                  run.failures ? "breaks an invariant" : "keeps every invariant");
      return run.failures ? 1 : 0;
    }
    const double share = only.empty() ? seconds * target.share : seconds;
    const size_t workers = threads ? threads : target.threads;
    std::printf("%ls: seed 0x%016llx, %.0f seconds, %zu threads, %zu starting inputs\n", target.name,
                static_cast<unsigned long long>(seed), share, workers, target.bases.size());
    std::fflush(stdout);
    const CRun run = Run(target, seed, share, 0, UINT64_MAX, workers);
    std::printf("%ls: %s inputs in %.1f s, %s per second, %s failures\n", target.name, Grouped(run.inputs).c_str(),
                run.seconds, Grouped(static_cast<uint64_t>(run.inputs / run.seconds)).c_str(),
                Grouped(run.failures).c_str());
    std::fflush(stdout);
    total += run.inputs;
    failures += run.failures;
  }
  if (count > 1) std::printf("total: %s inputs, %s failures\n", Grouped(total).c_str(), Grouped(failures).c_str());
  return failures ? 1 : 0;
}
