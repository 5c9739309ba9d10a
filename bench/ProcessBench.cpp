// `bench process`: a captured run of a child writing 1 MB and 50 MB to its standard output (through
// the command interpreter, as the library runs commands), timed beside a bare CreateProcessW + pipe
// ReadFile loop on the same command line; and the console run, which drains its pipe. The child is this program
// started with "--process-bench-writer N".
#include <cstdio>
#include <cwchar>
#include <string>

#include "Bench.h"
#include "Errors.h"
#include "Files.h"
#include "Handle.h"
#include "ProcessLauncher.h"
#include "VrnWindows.h"

namespace {

constexpr wchar_t kWriterSwitch[] = L"--process-bench-writer ";

// The writer: N bytes of text lines to standard output, then exit.
const bool g_writerChecked = [] {
  const std::wstring commandLine = ::GetCommandLineW();
  const size_t at = commandLine.find(kWriterSwitch);
  if (at == std::wstring::npos) return true;
  unsigned long long remaining = std::wcstoull(commandLine.c_str() + at + std::wcslen(kWriterSwitch), nullptr, 10);
  std::string block;
  while (block.size() < (1 << 20)) block += "abcdefghijklmnopqrstuvwxyz0123456789AB\r\n";
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  while (remaining > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<unsigned long long>(remaining, block.size()));
    if (!::WriteFile(out, block.data(), chunk, &written, nullptr) || written == 0) break;
    remaining -= written;
  }
  ::ExitProcess(0);
}();

std::wstring WriterCommand(size_t bytes) {
  std::wstring program(32768, L'\0');
  program.resize(::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size())));
  return L"\"" + program + L"\" " + kWriterSwitch + std::to_wstring(bytes);
}

// The bare way: the same command line, its output read from a pipe until the child closes it.
size_t BareCapture(const std::wstring& command) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Vrn::CKernelHandle readEnd, writeEnd;
  if (!::CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, 0)) return 0;
  ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.Get();
  std::wstring commandLine = L"cmd.exe /k " + command + L" & exit";
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    return 0;
  const Vrn::CKernelHandle process(info.hProcess), thread(info.hThread);
  writeEnd.Reset();
  std::string output;
  char buffer[64 * 1024];
  DWORD read = 0;
  while (::ReadFile(readEnd.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) output.append(buffer, read);
  ::WaitForSingleObject(process.Get(), INFINITE);
  return output.size();
}

template <class Run>
double Seconds(Run&& run) {
  const double start = Bench::NowSeconds();
  run();
  return Bench::NowSeconds() - start;
}

int RunProcessBench(const std::vector<std::wstring>&) {
  (void)g_writerChecked;
  try {
    for (const size_t bytes : {size_t{1} << 20, size_t{50} << 20}) {
      const std::wstring command = WriterCommand(bytes);
      size_t captured = 0, bare = 0;
      const double libraryTime = Seconds([&] { captured = Msi::RunCommandCaptureText(command).Length(); });
      const double bareTime = Seconds([&] { bare = BareCapture(command); });
      // The console run drains the whole output through its pipe and keeps the first 4096 bytes.
      const Vrn::CUnicodeString log = Vrn::CreateUniqueTempFile(L"bench-console", L"log");
      DWORD exitCode = 0;
      const double consoleTime = Seconds([&] { Msi::CreateConsoleProcess(command, exitCode, log); });
      ::DeleteFileW(log.c_str());
      std::wprintf(
          L"process: %zu MB: captured run %.3f s (%zu bytes), bare CreateProcessW + ReadFile %.3f s (%zu bytes),"
          L" ratio %.2f; console run draining its pipe %.3f s\n",
          bytes >> 20, libraryTime, captured, bareTime, bare, bareTime > 0 ? libraryTime / bareTime : 0.0, consoleTime);
    }
    return 0;
  } catch (Vrn::CException* raw) {
    const Vrn::CExceptionPtr e(raw);
    std::fwprintf(stderr, L"process: %ls\n", e->MessageText().c_str());
    return 1;
  }
}

const Bench::Registration kRegistration(L"process", L"process", RunProcessBench);

}  // namespace
