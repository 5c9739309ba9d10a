// Archive inputs: a cached read-only file and an in-memory image.
#include "CacheableFile.h"

#include <algorithm>
#include <cstring>

#include "Errors.h"

namespace Zlib {

void CArchiveInput::CheckRange(uint64_t offset, size_t size) const {
  if (offset > Size() || size > Size() - offset)
    Vrn::Raise<Vrn::CFileException>(Vrn::FileCause::EndOfFile, static_cast<DWORD>(ERROR_HANDLE_EOF), Name());
}

CCacheableFile::CCacheableFile(const Vrn::CUnicodeString& path)
    : m_file(path, Vrn::CFile::OpenMode::Read), m_size(m_file.Size()), m_cache(kCacheSize) {}

std::unique_ptr<CArchiveInput> CCacheableFile::Reopen() const {
  auto copy = std::make_unique<CCacheableFile>(m_file.Path());
  if (copy->Size() != m_size)
    Vrn::Raise<Vrn::CFileException>(Vrn::FileCause::EndOfFile, static_cast<DWORD>(ERROR_HANDLE_EOF), Name());
  return copy;
}

void CCacheableFile::ReadDirect(uint64_t offset, void* buffer, size_t size) {
  m_file.Seek(offset);
  m_file.ReadExact(buffer, size);
}

void CCacheableFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
  CheckRange(offset, size);
  if (size >= kCacheSize) {
    ReadDirect(offset, buffer, size);
    return;
  }
  const bool cached = offset >= m_cacheOffset && offset - m_cacheOffset <= m_cacheLength &&
                      size <= m_cacheLength - (offset - m_cacheOffset);
  if (!cached) {
    // The window starts at the request, or ends with it when the reader moves backwards (the
    // end-record search), so either direction costs one window per kCacheSize bytes.
    const bool backwards = m_cacheLength != 0 && offset < m_cacheOffset;
    const uint64_t start = !backwards ? offset : offset + size > kCacheSize ? offset + size - kCacheSize : 0;
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kCacheSize, m_size - start));
    m_cacheLength = 0;
    ReadDirect(start, m_cache.Data(), length);
    m_cacheOffset = start;
    m_cacheLength = length;
  }
  std::memcpy(buffer, m_cache.Data() + (offset - m_cacheOffset), size);
}

void CMemoryFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
  CheckRange(offset, size);
  std::memcpy(buffer, m_bytes.data() + offset, size);
}

}  // namespace Zlib
