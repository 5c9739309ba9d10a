// Opening archives and extracting entries or folders. A folder of entries is extracted by a few
// threads at once (each with its own reader of the archive and its own buffers), with exactly the
// result of extracting the entries one after the other.
#include "ZipArchive.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>

#include "Errors.h"
#include "Files.h"
#include "TextLimits.h"
#include "ZipArchiveExtractor.h"
#include "ZipPath.h"

namespace Zlib {
namespace {

// The folder that holds path (path has no trailing separator).
Vrn::CUnicodeString ParentFolder(const Vrn::CUnicodeString& path) {
  const size_t separator = path.ReverseFind(L'\\');
  return separator == Vrn::CUnicodeString::npos ? Vrn::CUnicodeString() : path.Left(separator);
}

// Threads that extract a folder at once: inflating one entry while another is written pays off up
// to the number of cores; beyond a few, the disk is the limit.
constexpr unsigned kMaxExtractionThreads = 4;

// One entry of a folder extraction and the checked path it is written to.
struct CExtractionItem {
  const CZipEntry* entry;
  Vrn::CUnicodeString target;
};

// The path as the file system compares names (letter case ignored).
std::wstring FoldedPath(const Vrn::CUnicodeString& path) { return Vrn::CUnicodeString(path).MakeUpper().ToStdString(); }

// True when two file entries would write the same file, or a file entry would stand where another
// entry needs a folder. Which of them wins would depend on the order, so such archives are
// extracted strictly one entry after the other.
bool TargetsCollide(const std::vector<CExtractionItem>& items, const Vrn::CUnicodeString& destination) {
  std::unordered_set<std::wstring> files, folders;
  const size_t rootLength = Vrn::WithTrailingSeparator(destination).Length();
  for (const CExtractionItem& item : items) {
    const std::wstring path = FoldedPath(item.target);
    if (item.entry->IsFolder())
      folders.insert(path);
    else if (!files.insert(path).second)
      return true;
    for (size_t cut = path.rfind(L'\\'); cut != std::wstring::npos && cut >= rootLength;
         cut = path.rfind(L'\\', cut - 1))
      if (!folders.insert(path.substr(0, cut)).second) break;  // its parents are in already
  }
  return std::any_of(files.begin(), files.end(), [&](const std::wstring& file) { return folders.count(file) != 0; });
}

// True when a file entry's target is already there. Extracting on several threads writes files of
// entries after a failing one, and removes them again; that restores the folder only when they were
// not there before.
bool AnyTargetExists(const std::vector<CExtractionItem>& items, const Vrn::CUnicodeString& destination) {
  if (!Vrn::DirectoryExists(destination)) return false;
  return std::any_of(items.begin(), items.end(), [](const CExtractionItem& item) {
    return !item.entry->IsFolder() &&
           ::GetFileAttributesW(Vrn::Checked(item.target, Vrn::kPathLimit)) != INVALID_FILE_ATTRIBUTES;
  });
}

// The folder itself for a folder entry, the folder that holds the file otherwise.
Vrn::CUnicodeString ItemFolder(const CExtractionItem& item) {
  return item.entry->IsFolder() ? item.target : ParentFolder(item.target);
}

// Deletes an exception thrown by pointer that nobody will catch.
void Discard(const std::exception_ptr& failure) {
  if (!failure) return;
  try {
    std::rethrow_exception(failure);
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr owned(raw);
  } catch (...) {
  }
}

// Extracts the items on `threads` threads, this one included. The outcome is that of extracting
// them one after the other in directory order: every item before the first failing one (in
// directory order) is written, that item's failure is raised, and the files and folders that later
// items made meanwhile are removed again. Several threads need targets that do not exist yet (see
// AnyTargetExists) and that do not collide (see TargetsCollide).
class CFolderExtraction {
 public:
  CFolderExtraction(CZipArchiveContext& context, const Vrn::CWriteRoot& root, const std::vector<CExtractionItem>& items,
                    unsigned threads)
      : m_context(context),
        m_root(root),
        m_items(items),
        m_threads(threads),
        m_order(HandOutOrder(items, threads)),
        m_created(items.size(), 0) {}

  void Run() {
    // Everything the threads share (the root, the items, the hand-out order, the readers and
    // buffers) is complete before the first of them starts; a lack of readers or buffers fails
    // cleanly.
    std::vector<std::unique_ptr<CZipArchiveContext>> readers;
    std::vector<std::unique_ptr<CZipArchiveExtractor>> extractors;
    extractors.push_back(std::make_unique<CZipArchiveExtractor>(m_context));
    for (unsigned i = 1; i < m_threads; ++i) {
      std::unique_ptr<CZipArchiveContext> reader = m_context.Reopen();
      if (!reader) break;
      extractors.push_back(std::make_unique<CZipArchiveExtractor>(*reader));
      readers.push_back(std::move(reader));
    }
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < extractors.size(); ++i) {
      try {
        helpers.emplace_back([this, extractor = extractors[i].get()] { Work(*extractor); });
      } catch (...) {
        break;  // fewer threads: the others take the work
      }
    }
    Work(*extractors.front());
    for (std::thread& helper : helpers) helper.join();
    if (!m_failure) return;
    RemoveWhatLaterItemsMade();
    std::rethrow_exception(m_failure);
  }

 private:
  // Several threads take the largest entries first, so that no thread is left alone with a large
  // entry at the end; one thread keeps the directory order and stops at the first failure.
  static std::vector<size_t> HandOutOrder(const std::vector<CExtractionItem>& items, unsigned threads) {
    std::vector<size_t> order(items.size());
    for (size_t index = 0; index < order.size(); ++index) order[index] = index;
    if (threads > 1)
      std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return items[a].entry->uncompressedSize > items[b].entry->uncompressedSize;
      });
    return order;
  }

  // Takes the next item until none is left. Items after the first failure (in directory order) are
  // skipped; the ones before it must all be extracted still.
  void Work(CZipArchiveExtractor& extractor) noexcept {
    for (size_t turn = m_next.fetch_add(1); turn < m_order.size(); turn = m_next.fetch_add(1)) {
      const size_t index = m_order[turn];
      if (index > m_firstFailure.load()) continue;
      try {
        ExtractItem(extractor, index);
      } catch (...) {
        Fail(index, std::current_exception());
      }
    }
  }

  void ExtractItem(CZipArchiveExtractor& extractor, size_t index) {
    const CExtractionItem& item = m_items[index];
    EnsureFolder(ItemFolder(item));
    if (item.entry->IsFolder()) return;
    const uint64_t dataOffset = extractor.Prepare(*item.entry);
    m_created[index] = 1;
    extractor.Write(*item.entry, dataOffset, m_root, item.target);
  }

  // Each folder is made (with its parents) once per extraction. The ones missing before are noted
  // first, so that a failure can remove those that only later items needed.
  void EnsureFolder(const Vrn::CUnicodeString& folder) {
    std::lock_guard lock(m_folderLock);
    if (m_folders.count(folder.ToStdString())) return;
    for (Vrn::CUnicodeString missing = folder; !missing.IsEmpty() && !Vrn::DirectoryExists(missing);
         missing = ParentFolder(missing))
      m_madeFolders.push_back(missing);
    m_root.CreateFolder(folder);
    m_folders.insert(folder.ToStdString());
  }

  void Fail(size_t index, std::exception_ptr failure) {
    std::lock_guard lock(m_failureLock);
    if (index >= m_firstFailure.load()) {
      Discard(failure);
      return;
    }
    Discard(m_failure);
    m_failure = std::move(failure);
    m_firstFailure.store(index);
  }

  // After a failure (all threads joined): what extracting one item after the other would not have
  // made goes again: the files of items after the failing one, and the folders that only they need.
  void RemoveWhatLaterItemsMade() {
    for (size_t index = m_firstFailure + 1; index < m_items.size(); ++index) {
      if (!m_created[index]) continue;
      ::SetFileAttributesW(m_items[index].target.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(m_items[index].target.c_str());
    }
    std::unordered_set<std::wstring> needed;
    for (size_t index = 0; index <= m_firstFailure; ++index)
      for (Vrn::CUnicodeString folder = ItemFolder(m_items[index]);
           !folder.IsEmpty() && needed.insert(FoldedPath(folder)).second; folder = ParentFolder(folder)) {
      }
    std::sort(m_madeFolders.begin(), m_madeFolders.end(),
              [](const Vrn::CUnicodeString& a, const Vrn::CUnicodeString& b) { return a.Length() > b.Length(); });
    for (const Vrn::CUnicodeString& folder : m_madeFolders)
      if (!needed.count(FoldedPath(folder))) ::RemoveDirectoryW(folder.c_str());
  }

  CZipArchiveContext& m_context;
  const Vrn::CWriteRoot& m_root;
  const std::vector<CExtractionItem>& m_items;
  const unsigned m_threads;
  // The order in which the items are handed out (indices into m_items); fixed before any thread starts.
  const std::vector<size_t> m_order;
  // One byte per item, written only by the thread extracting it.
  std::vector<uint8_t> m_created;
  std::atomic<size_t> m_next{0};
  std::atomic<size_t> m_firstFailure{SIZE_MAX};
  std::mutex m_failureLock;
  std::exception_ptr m_failure;
  std::mutex m_folderLock;
  std::unordered_set<std::wstring> m_folders;
  std::vector<Vrn::CUnicodeString> m_madeFolders;
};

}  // namespace

void CZipArchive::Open(const Vrn::CUnicodeString& path, unsigned nameCodePage) {
  Close();
  Open(std::make_unique<CCacheableFile>(path), nameCodePage);
}

void CZipArchive::Open(std::unique_ptr<CArchiveInput> input, unsigned nameCodePage) {
  Close();
  auto context = std::make_unique<CZipArchiveContext>(std::move(input), nameCodePage);
  m_contents.Read(*context);
  m_context = std::move(context);
}

void CZipArchive::Close() noexcept {
  m_contents.Clear();
  m_context.reset();
}

CZipArchiveContext& CZipArchive::Context() const {
  Vrn::Check(m_context != nullptr);
  return *m_context;
}

const CZipEntry* CZipArchive::Find(const Vrn::CUnicodeString& path) const {
  return m_contents.Find(NormalizeEntryPath(path, Context().ArchiveName()));
}

void CZipArchive::Extract(const Vrn::CUnicodeString& entryPath, const Vrn::CUnicodeString& destination) {
  CZipArchiveContext& context = Context();
  const Vrn::CUnicodeString path = NormalizeEntryPath(entryPath, context.ArchiveName(), true);
  const bool folder = path.IsEmpty() || path.EndsWith(L"/");

  if (!folder) {
    const CZipEntry* entry = m_contents.Find(path);
    if (entry == nullptr) context.Fail(CZipArchiveException::FileNotFound, path, {});
    const Vrn::CUnicodeString target = TargetPath(destination, entry->name, context.ArchiveName(), entry->name);
    const Vrn::CWriteRoot root(destination);
    if (!entry->IsFolder()) root.CreateFolder(ParentFolder(target));  // a folder entry makes its own
    CZipArchiveExtractor(context).Extract(*entry, root, target);
    return;
  }

  // Every target is checked before anything is written.
  bool found = false;
  std::vector<CExtractionItem> items;
  for (const CZipEntry& entry : Entries()) {
    if (!entry.name.StartsWith(path)) continue;
    found = true;
    if (entry.name.Length() == path.Length()) continue;
    items.push_back(
        {&entry, TargetPath(destination, entry.name.View().substr(path.Length()), context.ArchiveName(), entry.name)});
  }
  if (!found) context.Fail(CZipArchiveException::FileNotFound, path, {});
  unsigned threads = m_extractionThreads != 0
                         ? m_extractionThreads
                         : std::clamp(std::thread::hardware_concurrency(), 1u, kMaxExtractionThreads);
  if (threads > 1 && (items.size() < 2 || TargetsCollide(items, destination) || AnyTargetExists(items, destination)))
    threads = 1;
  const Vrn::CWriteRoot root(destination);
  CFolderExtraction(context, root, items, threads).Run();
}

}  // namespace Zlib
