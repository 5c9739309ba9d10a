// The system's feature-management tool: the listing of feature states it prints and the seam that
// runs it, so that a machine without the tool can still answer with a listing.
#pragma once

#include <map>
#include <vector>

#include "Seam.h"
#include "UnicodeString.h"

namespace Msi {

using Vrn::CUnicodeString;

// Feature name -> enabled (true) or disabled (false).
using CFeatureStates = std::map<CUnicodeString, bool>;

// Reads the table of "dism /Get-Features /Format:Table": rows start after the line that begins with
// "Feature Name" (and after the dashed separator line that may follow it) and end at the first empty
// line or the first row that says neither "Enable" nor "Disable" after its first character. A row's
// name is the text before its first "|" without trailing blanks. No header: no features.
CFeatureStates ParseFeatureTable(const std::vector<CUnicodeString>& lines);

// The feature tool. The real one runs "dism /Online /Get-Features /Format:Table /English" through
// the captured run (its time limit and failures raise as that run does) and returns its lines.
class CFeatureTool {
 public:
  virtual ~CFeatureTool() = default;
  virtual std::vector<CUnicodeString> ListFeatures();
};
using CFeatureToolSeam = Vrn::CSeam<CFeatureTool>;

}  // namespace Msi
