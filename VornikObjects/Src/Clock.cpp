// The real clock and its process-wide override.
#include "Clock.h"

namespace Vrn {

void CClock::Pause(DWORD milliseconds) { ::Sleep(milliseconds); }

}  // namespace Vrn
