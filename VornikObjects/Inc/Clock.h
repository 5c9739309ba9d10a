// The clock seam: every pause of the library (polls, waits for another process, the pause after a
// message) goes through it, so that tests run long waits in no time while a real run still sleeps.
#pragma once

#include "VrnWindows.h"

namespace Vrn {

class CClock {
 public:
  virtual ~CClock() = default;
  // Blocks the calling thread for about `milliseconds` (the real clock calls ::Sleep).
  virtual void Pause(DWORD milliseconds);
};

// The clock in use: the real one unless a CClockOverride is alive.
CClock& Clock();

// Makes `replacement` the process-wide clock for the object's lifetime.
class CClockOverride {
 public:
  explicit CClockOverride(CClock& replacement);
  ~CClockOverride();
  CClockOverride(const CClockOverride&) = delete;
  CClockOverride& operator=(const CClockOverride&) = delete;

 private:
  CClock* m_previous;
};

}  // namespace Vrn
