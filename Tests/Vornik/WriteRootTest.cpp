// Writes below a root with real links planted under Wine: nothing is ever written, truncated or made
// outside the root, and the refusal names the link.
#include <gtest/gtest.h>

#include <functional>

#include "CoreFixtures.h"
#include "Errors.h"
#include "TestSupport.h"
#include "WriteRoot.h"

namespace {

using Vrn::CUnicodeString;

class WriteRootTest : public ::testing::Test {
 protected:
  WriteRootTest() {
    Vrn::CreateDirectoryWithParents(m_folder / L"outside");
    Vrn::CreateDirectoryWithParents(m_folder / L"root");
    TestSupport::WriteBytes(m_folder / L"outside\\precious.txt", "keep");
    TestSupport::WriteBytes(m_folder / L"source.txt", "copied");
    TestSupport::PlantLink(m_folder / L"root\\linked", m_folder / L"outside");
    TestSupport::PlantLink(m_folder / L"root\\file-link.txt", m_folder / L"outside\\precious.txt");
  }

  // The outside folder holds only what it held.
  void ExpectOutsideUntouched() {
    const auto entries = Vrn::ListDirectory(m_folder / L"outside", L"*", Vrn::ListAll | Vrn::ListRecursive);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(TestSupport::ReadBytes(m_folder / L"outside\\precious.txt"), "keep");
  }

  TestSupport::CTempFolder m_folder;
};

// A copy keeps the source's attributes, as CopyFileW would; the root may itself be a link.
TEST_F(WriteRootTest, WritesBelowTheRootAndThroughALinkedRoot) {
  const Vrn::CWriteRoot root(m_folder / L"root"), linkedRoot(m_folder / L"root\\linked");
  root.CreateFolder(m_folder / L"root\\a\\b");
  SetFileAttributesW((m_folder / L"source.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  root.CopyInto(m_folder / L"source.txt", m_folder / L"root\\a\\b\\copy.txt");
  EXPECT_EQ(TestSupport::ReadBytes(m_folder / L"root\\a\\b\\copy.txt"), "copied");
  EXPECT_NE(GetFileAttributesW((m_folder / L"root\\a\\b\\copy.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  linkedRoot.WriteBytes(m_folder / L"root\\linked\\through.txt", "fine");
  EXPECT_EQ(TestSupport::ReadBytes(m_folder / L"outside\\through.txt"), "fine");
}

TEST_F(WriteRootTest, RefusesEveryWriteThroughALinkAndEveryPathOutside) {
  const Vrn::CWriteRoot root(m_folder / L"root");
  const CUnicodeString linked = m_folder / L"root\\linked", fileLink = m_folder / L"root\\file-link.txt";
  // The folder a write goes into, replaced by a link after it was made (a user racing the action).
  const auto swapped = [&] {
    root.CreateFolder(m_folder / L"root\\swapped");
    RemoveDirectoryW((m_folder / L"root\\swapped").c_str());
    TestSupport::PlantLink(m_folder / L"root\\swapped", m_folder / L"outside");
    root.WriteBytes(m_folder / L"root\\swapped\\new.txt", "x");
  };
  const struct {
    const char* what;
    std::function<void()> write;
    const wchar_t* error;
    CUnicodeString link;  // the link the message names (%1), empty: not checked
  } cases[] = {
      {"a folder below a link", [&] { root.CreateFolder(linked + L"\\sub"); }, L"ERR_LINK_BELOW_ROOT", linked},
      {"a linked folder itself", [&] { root.CreateFolder(linked); }, L"ERR_LINK_BELOW_ROOT", linked},
      {"a new file below a link", [&] { root.WriteBytes(linked + L"\\new.txt", "x"); }, L"ERR_LINK_BELOW_ROOT", linked},
      {"a copy below a link", [&] { root.CopyInto(m_folder / L"source.txt", linked + L"\\precious.txt"); },
       L"ERR_LINK_BELOW_ROOT", linked},
      // Wine shows a link to a file as the file: the handle's final path is what gives it away.
      {"a file that is a link", [&] { root.WriteBytes(fileLink, "x"); }, L"ERR_PATH_LEAVES_ROOT", {}},
      {"a copy over a file link",
       [&] { root.CopyInto(m_folder / L"source.txt", fileLink); },
       L"ERR_PATH_LEAVES_ROOT",
       {}},
      {"attributes of a file link", [&] { root.ClearAttributes(fileLink); }, L"ERR_PATH_LEAVES_ROOT", {}},
      {"a path that climbs out",
       [&] { root.WriteBytes(m_folder / L"root\\..\\outside\\new.txt", "x"); },
       L"ERR_PATH_LEAVES_ROOT",
       {}},
      {"a folder swapped for a link", swapped, L"ERR_LINK_BELOW_ROOT", m_folder / L"root\\swapped"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto refusal = TestSupport::CatchRaised<Vrn::CCheckException>(c.write);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->Name(), c.error);
    if (!c.link.IsEmpty()) {
      EXPECT_EQ(refusal->Params().at(1), c.link);
    }
    ExpectOutsideUntouched();
  }
}

}  // namespace
