// The test child's options, carried out by a static initialiser before GoogleTest starts.
#include "TestChild.h"

#include <cwchar>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "VrnWindows.h"

namespace TestSupport {

namespace {

constexpr wchar_t kChildSwitch[] = L" --orv-test-child";
constexpr DWORD kNoShowMode = 9999;

void WriteAll(HANDLE handle, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    if (!::WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) return;
    done += written;
  }
}

std::string Unescape(const std::wstring& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\\' && i + 1 < text.size()) {
      const wchar_t next = text[i + 1];
      if (const wchar_t* at = std::wcschr(L"nrvf", next); at && next) {
        bytes += "\n\r\v\f"[at - L"nrvf"];
        ++i;
        continue;
      }
      if (next == L'x' && i + 3 < text.size()) {
        bytes += static_cast<char>(std::wcstoul(text.substr(i + 2, 2).c_str(), nullptr, 16));
        i += 3;
        continue;
      }
    }
    bytes += static_cast<char>(text[i]);
  }
  return bytes;
}

// Runs the options after the switch and ends the process.
[[noreturn]] void RunChild(const std::wstring& options) {
  DWORD exitCode = 0;
  size_t position = 0;
  while (position < options.size()) {
    const size_t end = std::min(options.find(L' ', position), options.size());
    const std::wstring option = options.substr(position, end - position);
    position = end + 1;
    const size_t equals = option.find(L'=');
    if (equals == std::wstring::npos) continue;
    const std::wstring key = option.substr(0, equals), value = option.substr(equals + 1);
    const unsigned long long number = std::wcstoull(value.c_str(), nullptr, 10);
    if (key == L"event") {
      if (HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, value.c_str())) {
        ::SetEvent(event);
        ::CloseHandle(event);
      }
    } else if (key == L"print") {
      WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), Unescape(value));
    } else if (key == L"out" || key == L"err") {
      WriteAll(::GetStdHandle(key == L"out" ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), TestChildPattern(number));
    } else if (key == L"wait-mutex") {
      // Until the named mutex exists, at most a minute (end-to-end packages wait for a mutex that
      // an asynchronous action creates).
      for (int tries = 0; tries < 1200; ++tries) {
        if (HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, value.c_str())) {
          ::CloseHandle(mutex);
          break;
        }
        ::Sleep(50);
      }
    } else if (key == L"sleep") {
      ::Sleep(static_cast<DWORD>(number));
    } else if (key == L"exit" && value == L"show") {
      STARTUPINFOW startup{};
      ::GetStartupInfoW(&startup);
      exitCode = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : kNoShowMode;
    } else if (key == L"exit") {
      exitCode = static_cast<DWORD>(number);
    }
  }
  ::ExitProcess(exitCode);
}

const bool g_childChecked = [] {
  const std::wstring commandLine = ::GetCommandLineW();
  const size_t at = commandLine.find(kChildSwitch);
  if (at != std::wstring::npos) RunChild(commandLine.substr(at + std::wcslen(kChildSwitch)));
  return true;
}();

}  // namespace

std::string TestChildPattern(size_t count) {
  static const std::string line = "abcdefghijklmnopqrstuvwxyz0123456789AB\r\n";
  std::string bytes;
  while (bytes.size() < count) bytes.append(line, 0, std::min(line.size(), count - bytes.size()));
  return bytes;
}

Vrn::CUnicodeString TestChildCommand(const Vrn::CUnicodeString& options) {
  (void)g_childChecked;
  std::wstring program = ThisProgramPath();
  if (program.find(L' ') != std::wstring::npos) program = L"\"" + program + L"\"";
  return Vrn::CUnicodeString(program + kChildSwitch + L" " + options.ToStdString());
}

}  // namespace TestSupport
