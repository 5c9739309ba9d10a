// Folder extraction runs on several threads. A race there loses a file only now and then, so every
// case here is extracted hundreds of times in this process, and each outcome (every file's bytes,
// every folder, the error) must be the one that extracting entry after entry gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "ArchiveWriter.h"
#include "Files.h"
#include "TestSupport.h"
#include "ZipTestSupport.h"

namespace {

using TestSupport::kDeflated;
using TestSupport::kStored;

constexpr unsigned kThreads = 4;  // more than this machine's cores: the threads interleave more

// The runs write and delete some hundred thousand files. Under Wine a file written anew is
// allocated on the disk when it is closed, and freeing allocated blocks costs milliseconds a file
// on a disk mounted with "discard"; so the runs use the machine's memory file system when it has one.
Vrn::CUnicodeString RunsParent() {
  const Vrn::CUnicodeString memory = L"Z:\\dev\\shm";
  return Vrn::DirectoryExists(memory) ? memory : Vrn::CUnicodeString();
}

struct CEntry {
  std::string name;  // a trailing "/" makes a folder entry
  uint16_t method;
  std::string content;
  bool badCrc = false;
};

struct COutcome {
  std::map<std::wstring, std::string> tree;
  std::wstring error;  // the message of the raised exception, empty when none
  bool operator==(const COutcome&) const = default;
};

void PrintTo(const COutcome& outcome, std::ostream* out) {
  *out << outcome.tree.size() << " entries, error \"" << Vrn::CUnicodeString(outcome.error).ToUtf8() << "\"";
  for (const auto& [name, bytes] : outcome.tree)
    *out << "\n  " << Vrn::CUnicodeString(name).ToUtf8() << " " << bytes.size();
}

void WriteArchive(const Vrn::CUnicodeString& path, const std::vector<CEntry>& entries) {
  TestSupport::CArchiveWriter writer(path);
  for (const CEntry& entry : entries) writer.Add(entry.name, entry.method, entry.content, entry.badCrc);
  writer.Finish();
}

// What a complete extraction of entries leaves below the destination.
std::map<std::wstring, std::string> ExpectedTree(const std::vector<CEntry>& entries) {
  std::map<std::wstring, std::string> tree;
  for (const CEntry& entry : entries) {
    const std::wstring name = Vrn::CUnicodeString::FromUtf8(entry.name).ToStdString();
    for (size_t cut = name.find(L'/'); cut != std::wstring::npos; cut = name.find(L'/', cut + 1))
      tree[name.substr(0, cut + 1)];
    if (name.back() != L'/') tree[name] = entry.content;
  }
  return tree;
}

COutcome Extract(const Vrn::CUnicodeString& archivePath, const Vrn::CUnicodeString& destination, unsigned threads) {
  Zlib::CZipArchive archive;
  archive.Open(archivePath);
  archive.SetExtractionThreads(threads);
  const Vrn::CExceptionPtr e = Vrn::Caught([&] { archive.Extract(L"", destination); });
  return {ZipTest::ReadTree(destination), e ? e->MessageText().ToStdString() : std::wstring()};
}

// The demo package's shape: a folder entry first, the largest file in the middle.
std::vector<CEntry> DemoShapedEntries() {
  return {{"Samples/", kDeflated, ""},
          {"Samples/hello.txt", kDeflated, "Hello from the demo archive\n"},
          {"Samples/settings.ini", kDeflated, "[Settings]\r\nMode=Demo\r\nLanguage=en\r\n"},
          {"Samples/docs/guide.txt", kDeflated, std::string(3800, 'g') + "\n"},
          {"Samples/docs/notes.txt", kDeflated, "Notes: the guide is the largest file.\n"},
          {"Samples/data/values.csv", kDeflated, std::string(1200, '7') + "\n"}};
}

// A couple of hundred entries in nested folders, stored and deflated, of sizes from empty to 20 KB,
// with a folder entry now and then.
std::vector<CEntry> NestedEntries() {
  std::mt19937 random(28);
  std::vector<CEntry> entries;
  for (int i = 0; i < 200; ++i) {
    std::string folder = "top" + std::to_string(i % 3) + "/";
    for (int depth = 0; depth < i % 4; ++depth) folder += "level" + std::to_string((i / 3 + depth) % 5) + "/";
    if (i % 25 == 0) entries.push_back({folder, kStored, ""});
    std::string content(random() % (i % 10 == 0 ? 20000 : 1500), '\0');
    for (char& c : content) c = static_cast<char>('a' + random() % (i % 2 ? 4 : 26));
    entries.push_back({folder + "file" + std::to_string(i) + ".dat", i % 3 ? kDeflated : kStored, content});
  }
  return entries;
}

// Each archive is extracted `runs` times on four threads, and every outcome must equal the one on a
// single thread, which for a good archive is its complete tree. A failing archive ends with
// everything before the failing entry, that entry's partly written file and its error; nothing that
// a later entry made stays. A file already in the destination stays as it was (such a folder goes on
// one thread), and so does a folder that was there before.
TEST(ZipExtractionStress, EveryOutcomeIsTheOneThreadOutcome) {
  TestSupport::CTempFolder temp(RunsParent());
  std::vector<CEntry> failingEarly = NestedEntries(), failingLate = NestedEntries();
  failingEarly[3].badCrc = failingLate[120].badCrc = true;
  const auto withOlderCopy = [](const Vrn::CUnicodeString& out) {
    Vrn::CreateDirectoryWithParents(out + L"\\top2\\level1");
    TestSupport::WriteBytes(out + L"\\top2\\file128.dat", "older copy");  // an entry after the failing one
  };
  const struct {
    const wchar_t* name;
    std::vector<CEntry> entries;
    int runs;
    std::function<void(const Vrn::CUnicodeString&)> prepare;
  } cases[] = {{L"demo.zip", DemoShapedEntries(), 200, {}},
               {L"nested.zip", NestedEntries(), 200, {}},
               {L"early.zip", failingEarly, 50, {}},
               {L"late.zip", failingLate, 50, {}},
               {L"late-over-older.zip", failingLate, 1, withOlderCopy}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Vrn::CUnicodeString(c.name).ToUtf8());
    WriteArchive(temp / c.name, c.entries);
    const auto run = [&](unsigned threads) {
      const Vrn::CUnicodeString out = temp / L"out";
      if (c.prepare) c.prepare(out);
      COutcome outcome = Extract(temp / c.name, out, threads);
      Vrn::RemoveFolder(out, true);
      return outcome;
    };
    const COutcome oneThread = run(1);
    const bool good = std::none_of(c.entries.begin(), c.entries.end(), [](const CEntry& e) { return e.badCrc; });
    if (good) {
      ASSERT_EQ(oneThread, (COutcome{ExpectedTree(c.entries), L""}));
    } else {
      ASSERT_NE(oneThread.error, L"");
    }
    for (int round = 0; round < c.runs; ++round) ASSERT_EQ(run(kThreads), oneThread) << "run " << round;
  }
}

}  // namespace
