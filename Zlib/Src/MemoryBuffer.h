// Zlib::CMemoryBuffer: a page-granular buffer taken straight from the operating system.
//
// The decoder and the copy loops use a few fixed buffers of 256 KiB; reserving and committing
// them with VirtualAlloc keeps them out of the heap, so their cost is the same for every archive.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zlib {

// The size of every transfer buffer of the extractor: input and output of the decoder, and the
// copy buffer of stored entries.
inline constexpr size_t kTransferBufferSize = 0x40000;

class CMemoryBuffer {
 public:
  // Reserves and commits at least size bytes (rounded up to whole pages), zero-filled.
  // Raises Vrn::CMemoryException when the system refuses.
  explicit CMemoryBuffer(size_t size);
  ~CMemoryBuffer();
  CMemoryBuffer(const CMemoryBuffer&) = delete;
  CMemoryBuffer& operator=(const CMemoryBuffer&) = delete;

  uint8_t* Data() noexcept { return m_data; }
  const uint8_t* Data() const noexcept { return m_data; }
  // The size asked for (the committed pages may hold more).
  size_t Size() const noexcept { return m_size; }

 private:
  uint8_t* m_data;
  size_t m_size;
};

}  // namespace Zlib
