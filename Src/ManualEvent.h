// A named manual-reset event that this process creates for another process to signal (the start-up
// signal of a child taking part in the progress hand-shake).
#pragma once

#include "Handle.h"
#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Msi {

class CManualEvent {
 public:
  // Creates the event, not signalled. An event of that name that already exists is not taken over:
  // the handle is closed again and the object stays empty (IsCreated() false). A failed creation
  // also leaves it empty.
  explicit CManualEvent(const Vrn::CUnicodeString& name);

  bool IsCreated() const noexcept { return m_event.IsValid(); }
  HANDLE Handle() const noexcept { return m_event.Get(); }

  // Waits at most timeoutMs for the event (not alertable): true when it was signalled, false when
  // the time ran out. A failed wait, and a wait on an event that was not created, raise: out of
  // memory as the memory exception, anything else as the system error.
  bool WaitSignalled(DWORD timeoutMs) const;

 private:
  Vrn::CKernelHandle m_event;
};

}  // namespace Msi
