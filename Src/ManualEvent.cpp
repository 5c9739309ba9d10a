// The named manual-reset event of the progress hand-shake.
#include "ManualEvent.h"

#include "Errors.h"
#include "TextLimits.h"

namespace Msi {

CManualEvent::CManualEvent(const Vrn::CUnicodeString& name) {
  m_event.Reset(::CreateEventW(nullptr, TRUE, FALSE, Vrn::Checked(name, Vrn::kObjectNameLimit)));
  // Someone else's event could be signalled already; a wait on it would prove nothing.
  if (m_event && ::GetLastError() == ERROR_ALREADY_EXISTS) m_event.Reset();
}

bool CManualEvent::WaitSignalled(DWORD timeoutMs) const {
  Vrn::Check(IsCreated());
  const DWORD result = ::WaitForSingleObjectEx(m_event.Get(), timeoutMs, FALSE);
  if (result == WAIT_OBJECT_0) return true;
  if (result == WAIT_TIMEOUT) return false;
  const DWORD code = result == WAIT_FAILED ? ::GetLastError() : ERROR_INVALID_HANDLE;
  if (code == ERROR_NOT_ENOUGH_MEMORY || code == ERROR_OUTOFMEMORY) Vrn::Raise<Vrn::CMemoryException>();
  Vrn::Raise<Vrn::CLastErrorException>(code);
}

}  // namespace Msi
