// What every action needs from the package it runs in: the properties it reads, the MT_ texts it
// shows, the tables it queries and whether it needs costing. Each action declares this beside its
// export (ORV_ACTION in ActionFrame.h), the one place it is kept; orvrun's package check reads it,
// and scripts/check-reference keeps it in step with the action reference (docs/actions).
#pragma once

#include <string_view>
#include <vector>

namespace Msi {

struct CActionNeeds {
  // Properties the action reads by a fixed name, separated by blanks.
  const wchar_t* reads = L"";
  // MT_ properties whose text it shows to the user; showing one also reads kMessageBoxReads. A text
  // shown only when the package defines it, or only with an option the package may leave out, counts
  // as read.
  const wchar_t* shows = L"";
  // Tables it queries, separated by blanks; a missing one fails the action. "A|B" needs only one of
  // them, and "[NAME]" stands for the table the property NAME names.
  const wchar_t* tables = L"";
  // It also reads properties whose names come from its tables or from other properties.
  bool readsIndirect = false;
  // It reads or sets target paths, feature or component states, which exist only after costing.
  bool costing = false;
};

// What the product message boxes read for every MT_ text they show: the caption, the UI level and
// the installer's process (its window owns the box).
inline constexpr wchar_t kMessageBoxReads[] = L"ProductName UILevel CLIENTPROCESSID";

struct CActionEntry {
  std::wstring_view name;
  CActionNeeds needs;
};

// One action's entry in the catalog; ORV_ACTION defines one per export. Registration only links the
// object into a list (no allocation), so it is safe while the library is being loaded.
class CActionRegistration {
 public:
  CActionRegistration(const wchar_t* name, const CActionNeeds& needs) noexcept;
  CActionRegistration(const CActionRegistration&) = delete;
  CActionRegistration& operator=(const CActionRegistration&) = delete;

 private:
  friend std::vector<CActionEntry> ActionCatalog();
  CActionEntry m_entry;
  const CActionRegistration* m_next;
};

// Every action of this module, sorted by name.
std::vector<CActionEntry> ActionCatalog();

}  // namespace Msi
