// Page-granular buffers from VirtualAlloc.
#include "MemoryBuffer.h"

#include "Errors.h"
#include "VrnWindows.h"

namespace Zlib {

CMemoryBuffer::CMemoryBuffer(size_t size)
    : m_data(static_cast<uint8_t*>(::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE))),
      m_size(size) {
  if (m_data == nullptr) Vrn::Raise<Vrn::CMemoryException>();
}

CMemoryBuffer::~CMemoryBuffer() { ::VirtualFree(m_data, 0, MEM_RELEASE); }

}  // namespace Zlib
