// Opening archives and extracting entries or folders.
#include "ZipArchive.h"

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

  const auto extractTo = [&](const CZipEntry& entry, std::wstring_view relative, CZipArchiveExtractor& extractor) {
    const Vrn::CUnicodeString target = TargetPath(destination, relative, context.ArchiveName(), entry.name);
    Vrn::CreateDirectoryWithParents(entry.IsFolder() ? target : ParentFolder(target));
    extractor.Extract(entry, target);
  };

  if (!folder) {
    const CZipEntry* entry = m_contents.Find(path);
    if (entry == nullptr) context.Fail(CZipArchiveException::FileNotFound, path, {});
    CZipArchiveExtractor extractor(context);
    extractTo(*entry, entry->name, extractor);
    return;
  }

  bool found = false;
  std::optional<CZipArchiveExtractor> extractor;
  for (const CZipEntry& entry : Entries()) {
    if (!entry.name.StartsWith(path)) continue;
    found = true;
    if (entry.name.Length() == path.Length()) continue;
    if (!extractor) extractor.emplace(context);
    extractTo(entry, entry.name.View().substr(path.Length()), *extractor);
  }
  if (!found) context.Fail(CZipArchiveException::FileNotFound, path, {});
}

}  // namespace Zlib
