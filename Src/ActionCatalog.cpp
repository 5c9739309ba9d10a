// The catalog of what the actions need from their package, gathered from the ORV_ACTION lines.
#include "ActionCatalog.h"

#include <algorithm>

namespace Msi {

namespace {

// Constant-initialised, so registrations made while other files' objects are constructed find it.
constinit const CActionRegistration* g_firstRegistration = nullptr;

}  // namespace

CActionRegistration::CActionRegistration(const wchar_t* name, const CActionNeeds& needs) noexcept
    : m_entry{name, needs}, m_next(g_firstRegistration) {
  g_firstRegistration = this;
}

std::vector<CActionEntry> ActionCatalog() {
  std::vector<CActionEntry> entries;
  for (const CActionRegistration* registration = g_firstRegistration; registration; registration = registration->m_next)
    entries.push_back(registration->m_entry);
  std::sort(entries.begin(), entries.end(),
            [](const CActionEntry& left, const CActionEntry& right) { return left.name < right.name; });
  return entries;
}

}  // namespace Msi
