// Opening archives and extracting entries or folders. A folder of entries is extracted by a few
// threads at once (each with its own reader of the archive and its own buffers), with the result of
// extracting the entries one after the other.
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

// Extracts the items on up to `threads` threads, this one included. The outcome is that of
// extracting them one after the other in directory order: every item before the first failing one (in
// directory order) is written, that item's failure is raised, and files that later items created
// meanwhile are removed again.
class CFolderExtraction {
 public:
  CFolderExtraction(CZipArchiveContext& context, const std::vector<CExtractionItem>& items)
      : m_context(context), m_items(items), m_created(items.size(), 0), m_order(items.size()) {
    for (size_t index = 0; index < m_order.size(); ++index) m_order[index] = index;
  }

  void Run(unsigned threads) {
    // Readers and buffers are had before anything is written, so a lack of them fails cleanly.
    std::vector<std::unique_ptr<CZipArchiveContext>> readers;
    std::vector<std::unique_ptr<CZipArchiveExtractor>> extractors;
    extractors.push_back(std::make_unique<CZipArchiveExtractor>(m_context));
    for (unsigned i = 1; i < threads; ++i) {
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
    // Several threads take the largest entries first, so that no thread is left alone with a large
    // entry at the end; one thread keeps the directory order and stops at the first failure.
    if (extractors.size() > 1)
      std::stable_sort(m_order.begin(), m_order.end(), [&](size_t a, size_t b) {
        return m_items[a].entry->uncompressedSize > m_items[b].entry->uncompressedSize;
      });
    Work(*extractors.front());
    for (std::thread& helper : helpers) helper.join();
    if (!m_failure) return;
    for (size_t index = m_firstFailure + 1; index < m_items.size(); ++index)
      if (m_created[index]) RemoveQuietly(m_items[index].target);
    std::rethrow_exception(m_failure);
  }

 private:
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
    if (item.entry->IsFolder()) {
      EnsureFolder(item.target);
      return;
    }
    EnsureFolder(ParentFolder(item.target));
    const uint64_t dataOffset = extractor.Prepare(*item.entry);
    m_created[index] = 1;
    extractor.Write(*item.entry, dataOffset, item.target);
  }

  // Each folder is made (with its parents) once per extraction.
  void EnsureFolder(const Vrn::CUnicodeString& folder) {
    std::lock_guard lock(m_folderLock);
    if (m_folders.count(folder.ToStdString())) return;
    Vrn::CreateDirectoryWithParents(folder);
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

  static void RemoveQuietly(const Vrn::CUnicodeString& path) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
  }

  CZipArchiveContext& m_context;
  const std::vector<CExtractionItem>& m_items;
  // One byte per item, written only by the thread extracting it.
  std::vector<uint8_t> m_created;
  // The order in which the items are handed out (indices into m_items).
  std::vector<size_t> m_order;
  std::atomic<size_t> m_next{0};
  std::atomic<size_t> m_firstFailure{SIZE_MAX};
  std::mutex m_failureLock;
  std::exception_ptr m_failure;
  std::mutex m_folderLock;
  std::unordered_set<std::wstring> m_folders;
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
    Vrn::CreateDirectoryWithParents(entry->IsFolder() ? target : ParentFolder(target));
    CZipArchiveExtractor(context).Extract(*entry, target);
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
  unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxExtractionThreads);
  if (threads > 1 && (items.size() < 2 || TargetsCollide(items, destination))) threads = 1;
  CFolderExtraction(context, items).Run(threads);
}

}  // namespace Zlib
