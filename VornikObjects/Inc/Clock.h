// The clock seam: every pause of the library (polls, waits for another process, the pause after a
// message) goes through it, so that tests run long waits in no time while a real run still sleeps.
#pragma once

#include "Seam.h"
#include "VrnWindows.h"

namespace Vrn {

class CClock {
 public:
  virtual ~CClock() = default;
  // Blocks the calling thread for about `milliseconds` (the real clock calls ::Sleep).
  virtual void Pause(DWORD milliseconds);
};

// The clock in use: the real one unless a CClockOverride is alive.
inline CClock& Clock() noexcept { return CSeam<CClock>::Current(); }
using CClockOverride = CSeam<CClock>::COverride;

}  // namespace Vrn
