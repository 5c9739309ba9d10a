// Installed-product discovery for update packages: the installed product model, build numbers and
// the build range an update accepts.
#pragma once

#include <cstdint>
#include <vector>

#include "MsiHelper.h"

namespace Msi {

// The third field of "major.minor.build.revision" as a decimal number (blanks around it allowed);
// -1 when the field is missing, empty, not a number or out of range.
int64_t GetBuildNumber(const CUnicodeString& version);

// True when build lies within the bounds the package gives: this package's own build when
// ISReleaseFlags contains "CheckBuild", else UPGRADEPRODUCTINFO_MinVersion / _MaxVersion (build
// numbers; an empty one is no bound). A bound that is not a non-negative number is an internal error.
bool CheckBuildRange(MSIHANDLE session, int64_t build);

// The first product related to the upgrade code, or the empty text.
CUnicodeString FirstRelatedProduct(const CUnicodeString& upgradeCode);

// An installed product and its features.
class CProduct {
 public:
  struct CFeature {
    CUnicodeString name;
    CUnicodeString parent;
    INSTALLSTATE state = INSTALLSTATE_UNKNOWN;
  };

  // With an empty product code the first related product of the upgrade code is taken; neither
  // giving a product is an internal error. Reads the feature list at once.
  CProduct(const CUnicodeString& productCode, const CUnicodeString& upgradeCode,
           const CUnicodeString& mainComponentCode);

  // True when the installer enumerates a product with this code (letter case aside). The end of the
  // enumeration is logged with its code.
  static bool Installed(const CUnicodeString& productCode);

  const CUnicodeString& ProductCode() const noexcept { return m_productCode; }
  const std::vector<CFeature>& Features() const noexcept { return m_features; }
  // A product property ("ProductName", "VersionString"...); empty when the installer refuses.
  CUnicodeString Info(const wchar_t* property) const;
  // "InstallLocation", or else the folder of the main component's key path when that component is
  // installed locally or to run from the source; else empty.
  CUnicodeString InstallLocation() const;
  // True when the feature named exactly so is installed locally.
  bool FeatureIsLocal(const CUnicodeString& feature) const;

 private:
  void ReadFeatures();

  CUnicodeString m_productCode;
  CUnicodeString m_mainComponentCode;
  std::vector<CFeature> m_features;
};

// The feature names and parents of an installed product, in the order the installer lists them.
// MsiEnumFeaturesW by default; when that lists nothing, the Feature table of the product's cached
// package (Wine's installer lists no features of installed products).
void EnumerateProductFeatures(const CUnicodeString& productCode, std::vector<CProduct::CFeature>& features);

}  // namespace Msi
