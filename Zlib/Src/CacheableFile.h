// The archive's input: a read-at-offset source of bytes with a known length.
//
// CCacheableFile reads an archive file through a small window cache, because the central
// directory is read in many small pieces; CMemoryFile serves an archive image held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Files.h"
#include "MemoryBuffer.h"
#include "UnicodeString.h"

namespace Zlib {

class CArchiveInput {
 public:
  virtual ~CArchiveInput() = default;
  // The name used in error reports (the archive path).
  virtual const Vrn::CUnicodeString& Name() const noexcept = 0;
  // The length in bytes, fixed when the input was opened.
  virtual uint64_t Size() const noexcept = 0;
  // Reads exactly size bytes at offset; a range past the end raises Vrn::CFileException
  // (ERR_FILE_END_OF_FILE) for Name(), other read failures the file's own error.
  virtual void ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
  // A second, independent reader of the same bytes (so that two threads can read at once), or null
  // when this input cannot give one. Failures to open it raise as the first open did.
  virtual std::unique_ptr<CArchiveInput> Reopen() const { return nullptr; }

 protected:
  // Raises the end-of-file error when [offset, offset + size) is not inside the input.
  void CheckRange(uint64_t offset, size_t size) const;
};

class CCacheableFile : public CArchiveInput {
 public:
  // Opens the file read-only (shared for reading); failures raise Vrn::CFileException.
  explicit CCacheableFile(const Vrn::CUnicodeString& path);

  const Vrn::CUnicodeString& Name() const noexcept override { return m_file.Path(); }
  uint64_t Size() const noexcept override { return m_size; }
  void ReadAt(uint64_t offset, void* buffer, size_t size) override;
  // The same file opened again; a file whose length changed in the meantime is refused as end of file.
  std::unique_ptr<CArchiveInput> Reopen() const override;

 private:
  // Large enough to hold a run of central directory headers, small against the transfer buffers.
  static constexpr size_t kCacheSize = 0x10000;

  void ReadDirect(uint64_t offset, void* buffer, size_t size);

  Vrn::CFile m_file;
  uint64_t m_size;
  CMemoryBuffer m_cache;
  uint64_t m_cacheOffset = 0;
  size_t m_cacheLength = 0;
};

class CMemoryFile : public CArchiveInput {
 public:
  CMemoryFile(Vrn::CUnicodeString name, std::string bytes) : m_name(std::move(name)), m_bytes(std::move(bytes)) {}

  const Vrn::CUnicodeString& Name() const noexcept override { return m_name; }
  uint64_t Size() const noexcept override { return m_bytes.size(); }
  void ReadAt(uint64_t offset, void* buffer, size_t size) override;

 private:
  Vrn::CUnicodeString m_name;
  std::string m_bytes;
};

}  // namespace Zlib
