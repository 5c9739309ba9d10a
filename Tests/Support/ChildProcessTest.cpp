// Child runs of single tests with a time limit.
#include "ChildProcessTest.h"

#include <string>

#include "Handle.h"

namespace TestSupport {

namespace {

// This program's path, long enough for any prefix.
std::wstring ThisProgram() {
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path;
}

// Everything the child wrote to its standard output and error, read until it closes the pipe.
std::string DrainPipe(HANDLE pipe) {
  std::string output;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) output.append(buffer, read);
  return output;
}

}  // namespace

::testing::AssertionResult RunTestInChildProcess(const char* fullTestName, DWORD timeoutMs) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0))
    return ::testing::AssertionFailure() << "CreatePipe failed: " << ::GetLastError();
  Vrn::CKernelHandle reader(readEnd);
  Vrn::CKernelHandle writer(writeEnd);
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  std::wstring commandLine = L"\"" + ThisProgram() + L"\" --gtest_also_run_disabled_tests --gtest_filter=";
  for (const char* c = fullTestName; *c; ++c) commandLine += static_cast<wchar_t>(*c);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    return ::testing::AssertionFailure() << "CreateProcessW failed: " << ::GetLastError();
  Vrn::CKernelHandle process(info.hProcess);
  Vrn::CKernelHandle thread(info.hThread);
  writer.Reset();  // the child holds the only write end, so the read ends when the child does

  if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.Get(), 1);
    ::WaitForSingleObject(process.Get(), INFINITE);
    return ::testing::AssertionFailure() << fullTestName << " did not finish within " << timeoutMs << " ms:\n"
                                         << DrainPipe(reader.Get());
  }
  const std::string output = DrainPipe(reader.Get());
  DWORD exitCode = 1;
  ::GetExitCodeProcess(process.Get(), &exitCode);
  if (exitCode != 0 || output.find("[  PASSED  ] 1 test.") == std::string::npos)
    return ::testing::AssertionFailure() << fullTestName << " failed in the child (exit code " << exitCode << "):\n"
                                         << output;
  return ::testing::AssertionSuccess();
}

}  // namespace TestSupport
