// Child runs of single tests with a time limit, with or without a null-driver desktop.
#include "ChildProcessTest.h"

#include <string>

#include "Handle.h"
#include "TestSupport.h"

namespace TestSupport {

namespace {

// The whole report once GoogleTest has finished writing it, else empty.
std::string FinishedReport(const Vrn::CUnicodeString& path) {
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return {};
  const std::string report = ReadBytes(path);
  return report.find("</testsuites>") == std::string::npos ? std::string() : report;
}

}  // namespace

::testing::AssertionResult RunTestInChildProcess(const char* fullTestName, DWORD timeoutMs, ChildDisplay display) {
  const CTempFolder folder;
  const Vrn::CUnicodeString reportPath = folder / L"report.xml";
  std::wstring commandLine = L"\"" + ThisProgramPath() + L"\" --gtest_also_run_disabled_tests --gtest_output=xml:\"" +
                             reportPath.ToStdString() + L"\" --gtest_filter=";
  for (const char* c = fullTestName; *c; ++c) commandLine += static_cast<wchar_t>(*c);
  // Wine's desktop manager makes the desktop with the driver named after the size, then starts the
  // program on it. The desktop name is unique per run so that parallel runs never meet.
  if (display == ChildDisplay::Null)
    commandLine = L"explorer.exe /desktop=OrvantTest" + std::to_wstring(::GetCurrentProcessId()) + L",640x480,null " +
                  commandLine;

  // Everything started from here belongs to the job and ends with it, also after a hang.
  Vrn::CKernelHandle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job || !::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
    return ::testing::AssertionFailure() << "job object: " << ::GetLastError();

  // The child's own output would mix with this program's summary; its report is what counts. No
  // pipe either: a process the child starts (Wine's desktop process, for one) may inherit it and
  // hold it open long after the child has ended.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Vrn::CFileHandle discard(
      ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = discard.Get();
  startup.hStdError = discard.Get();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &info))
    return ::testing::AssertionFailure() << "CreateProcessW failed: " << ::GetLastError();
  Vrn::CKernelHandle process(info.hProcess);
  Vrn::CKernelHandle thread(info.hThread);
  ::AssignProcessToJobObject(job.Get(), process.Get());
  ::ResumeThread(thread.Get());

  // A desktop manager may outlive the test, so the report, not the process's end, says when the
  // test is over.
  std::string report;
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (report.empty() && ::GetTickCount64() < deadline) {
    const bool ended = ::WaitForSingleObject(process.Get(), 200) == WAIT_OBJECT_0;
    report = FinishedReport(reportPath);
    if (ended && report.empty()) {
      ::Sleep(500);  // a desktop's program may still be writing its report
      report = FinishedReport(reportPath);
      if (report.empty()) return ::testing::AssertionFailure() << fullTestName << " ended without a report";
    }
  }
  ::TerminateJobObject(job.Get(), 1);
  if (report.empty())
    return ::testing::AssertionFailure() << fullTestName << " did not finish within " << timeoutMs << " ms";
  if (report.find("status=\"run\"") == std::string::npos || report.find("<failure") != std::string::npos)
    return ::testing::AssertionFailure() << fullTestName << " failed in the child:\n" << report;
  return ::testing::AssertionSuccess();
}

}  // namespace TestSupport
