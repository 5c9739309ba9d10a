// Two threads running actions on sessions of their own: every log piece lands whole, the core library
// starts and stops in step, and every failure reaches the log and the installer.
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "ActionTest.h"
#include "ChildProcessTest.h"

namespace {

constexpr int kCallsPerThread = 1000;
constexpr int kFailingEvery = 10;  // every tenth call fails (a missing file) and is reported
constexpr int kThreads = 2;

std::wstring Source(int thread) { return L"C:\\orv-missing-" + std::to_wstring(thread) + L"\\a.txt"; }

std::wstring WarningBlock(int thread) {
  const std::wstring equals(60, L'=');
  return equals + L"\r\nWARNING: Vornik Objects\r\n\t" + Source(thread) + L" contains an invalid path.\r\n" + equals +
         L"\r\n";
}

// Every piece the calls of one thread may write (the log's header and the counter's line aside).
void AddExpectedPieces(int thread, std::set<std::wstring>& pieces) {
  const std::wstring name = L"file" + std::to_wstring(thread) + L".txt", source = Source(thread);
  pieces.insert({L"GetShortFileName\r\n\r\n", L"Property( GET_FILE_NAME ) : C:\\dir\\" + name + L"\r\n",
                 L"Property( GET_FILE_NAME ) : " + name + L"\r\n", L"Set GET_FILE_NAME = " + name + L"\r\n",
                 L"RenameFile\r\n\r\n", L"Property( RenameSrc ) : " + source + L"\r\n",
                 L"Property( RenameDst ) : C:\\b.txt\r\n", L"RenameFile src:" + source + L"\r\n",
                 L"RenameFile dst:C:\\b.txt\r\n", WarningBlock(thread)});
}

std::string LogBytes() {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH, temp);
  const Vrn::CUnicodeString path = Vrn::CUnicodeString(temp) + L"OrvantMsiLog.txt";
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::string() : TestSupport::ReadBytes(path);
}

}  // namespace

TIMED_CHILD_TEST(ConcurrentActions, LogStartCountAndHandlerStayConsistent, 300000) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::CTestPackage packages[kThreads];
  std::set<std::wstring> expected;
  for (int thread = 0; thread < kThreads; ++thread) {
    packages[thread].AddProperty(L"GET_FILE_NAME", (L"C:\\dir\\file" + std::to_wstring(thread) + L".txt").c_str());
    packages[thread].AddProperty(L"RenameSrc", Source(thread).c_str());
    packages[thread].AddProperty(L"RenameDst", L"C:\\b.txt");
    packages[thread].Open();
    AddExpectedPieces(thread, expected);
  }
  Vrn::CMessageHandler* const handlerBefore = Vrn::CurrentHandler();
  const size_t logStart = LogBytes().size();

  int wrongResults[kThreads] = {};
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread)
    threads.emplace_back([&, thread] {
      const MSIHANDLE session = packages[thread].Session();
      for (int call = 1; call <= kCallsPerThread; ++call) {
        const bool failing = call % kFailingEvery == 0;
        if (TestSupport::CallAction(failing ? "RenameFile" : "GetShortFileName", session) != (failing ? 1603u : 0u))
          ++wrongResults[thread];
      }
    });
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(wrongResults[0] + wrongResults[1], 0);
  EXPECT_EQ(Vrn::StartCount(), 0);
  EXPECT_EQ(Vrn::CurrentHandler(), handlerBefore);
  constexpr size_t kFailures = kThreads * kCallsPerThread / kFailingEvery;
  EXPECT_EQ(packages[0].InstallerErrors().size(), kFailures);
  // Every failure counted: two threads must not both read N and write N + 1.
  EXPECT_EQ(TestSupport::InstallationCount(), kFailures);

  // Every piece is one the actions write, whole; none is lost.
  const std::string bytes = LogBytes().substr(logStart);
  const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  ASSERT_TRUE(!text.empty() && text[0] == 0xFEFF);
  static const std::wregex other(L"count = [0-9]+\r\n\r\n|={49}\r\n\\.\\.\\.LOGGING started at [0-9:, -]+\r\n\r\n");
  std::map<std::wstring, size_t> counts;
  // A new file begins with a mark of its own before the first piece's.
  for (size_t start = logStart == 0 && text.starts_with(L"\xFEFF\xFEFF") ? 2 : 1; start < text.size();) {
    const size_t end = std::min(text.find(wchar_t(0xFEFF), start), text.size());
    const std::wstring piece = text.substr(start, end - start);
    ASSERT_TRUE(expected.count(piece) || std::regex_match(piece, other))
        << "at " << start << ": " << Vrn::CUnicodeString(piece);
    ++counts[piece];
    start = end + 1;
  }
  EXPECT_EQ(counts[L"GetShortFileName\r\n\r\n"], kThreads * kCallsPerThread - kFailures);
  for (int thread = 0; thread < kThreads; ++thread)
    EXPECT_EQ(counts[WarningBlock(thread)], kCallsPerThread / kFailingEvery);
}
