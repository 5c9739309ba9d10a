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

// Everything written to the output file so far. The child's output goes to a file, not a pipe: a
// process the child starts (Wine's desktop process, for one) may inherit the handle and keep a pipe
// open long after the child has ended.
std::string ReadOutput(HANDLE file) {
  std::string output;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
    return output;
  output.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!output.empty() && ::ReadFile(file, output.data(), static_cast<DWORD>(output.size()), &read, nullptr))
    output.resize(read);
  return output;
}

}  // namespace

::testing::AssertionResult RunTestInChildProcess(const char* fullTestName, DWORD timeoutMs) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  wchar_t folder[MAX_PATH + 1] = {};
  wchar_t outputPath[MAX_PATH + 1] = {};
  if (!::GetTempPathW(MAX_PATH + 1, folder) || !::GetTempFileNameW(folder, L"chd", 0, outputPath))
    return ::testing::AssertionFailure() << "no temporary file: " << ::GetLastError();
  Vrn::CFileHandle output(::CreateFileW(outputPath, GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!output.Get() || output.Get() == INVALID_HANDLE_VALUE)
    return ::testing::AssertionFailure() << "CreateFileW failed: " << ::GetLastError();

  std::wstring commandLine = L"\"" + ThisProgram() + L"\" --gtest_also_run_disabled_tests --gtest_filter=";
  for (const char* c = fullTestName; *c; ++c) commandLine += static_cast<wchar_t>(*c);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = output.Get();
  startup.hStdError = output.Get();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    return ::testing::AssertionFailure() << "CreateProcessW failed: " << ::GetLastError();
  Vrn::CKernelHandle process(info.hProcess);
  Vrn::CKernelHandle thread(info.hThread);
  if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(process.Get(), 1);
    ::WaitForSingleObject(process.Get(), INFINITE);
    return ::testing::AssertionFailure() << fullTestName << " did not finish within " << timeoutMs << " ms:\n"
                                         << ReadOutput(output.Get());
  }
  const std::string text = ReadOutput(output.Get());
  DWORD exitCode = 1;
  ::GetExitCodeProcess(process.Get(), &exitCode);
  if (exitCode != 0 || text.find("[  PASSED  ] 1 test.") == std::string::npos)
    return ::testing::AssertionFailure() << fullTestName << " failed in the child (exit code " << exitCode << "):\n"
                                         << text;
  return ::testing::AssertionSuccess();
}

}  // namespace TestSupport
