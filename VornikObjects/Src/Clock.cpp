// The real clock and its process-wide override.
#include "Clock.h"

#include <atomic>

namespace Vrn {

namespace {
CClock g_realClock;
std::atomic<CClock*> g_clock{&g_realClock};
}  // namespace

void CClock::Pause(DWORD milliseconds) { ::Sleep(milliseconds); }

CClock& Clock() { return *g_clock.load(); }

CClockOverride::CClockOverride(CClock& replacement) : m_previous(g_clock.exchange(&replacement)) {}
CClockOverride::~CClockOverride() { g_clock.store(m_previous); }

}  // namespace Vrn
