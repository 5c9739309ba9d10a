// Fakes of the small seams of the action families: the IIS command, the feature tool, the shell
// opener, the product reinstallation, the normal-user token and the locale query. Each records
// what it was asked and answers from its members; default-constructed, each answers "nothing
// there" (no site, no feature, nothing opened, unknown product, no token, every locale installed).
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

#include "Dism.h"
#include "IisCommand.h"
#include "LocaleSupport.h"
#include "ProcessLauncher.h"
#include "ProductReinstall.h"
#include "ShellOpen.h"

namespace TestSupport {

using Vrn::CUnicodeString;

// Install with Msi::CIisCommandOverride: every query is answered with `output`.
struct CFakeIis : Msi::CIisCommand {
  CUnicodeString CaptureBindings(const CUnicodeString& command) override { return Answer(command); }
  CUnicodeString CaptureSites(const CUnicodeString& command) override { return Answer(command); }
  CUnicodeString Answer(const CUnicodeString& command) {
    commands.push_back(command);
    return output;
  }
  CUnicodeString output;
  std::vector<CUnicodeString> commands;
};

// Install with Msi::CFeatureToolSeam::COverride: the tool's listing is `lines`.
struct CFakeFeatureTool : Msi::CFeatureTool {
  std::vector<CUnicodeString> ListFeatures() override { return lines; }
  std::vector<CUnicodeString> lines;
};

// Install with Msi::CShellOpenerOverride: records every request; opens when `opens`.
struct CFakeShellOpener : Msi::CShellOpener {
  bool Open(const Msi::CShellOpenRequest& request) override {
    opened.push_back({request.verb, request.file, request.parameters, request.show});
    if (!opens) ::SetLastError(ERROR_FILE_NOT_FOUND);
    return opens;
  }
  struct COpened {
    CUnicodeString verb, file, parameters;
    int show;
    bool operator==(const COpened&) const = default;
  };
  std::vector<COpened> opened;
  bool opens = false;
};

// Install with Msi::CProductReinstallOverride: records every call and answers "unknown product".
struct CFakeReinstall : Msi::CProductReinstall {
  UINT Reinstall(const wchar_t* productCode, DWORD mode) override {
    calls.emplace_back(productCode, mode);
    return ERROR_UNKNOWN_PRODUCT;
  }
  std::vector<std::pair<CUnicodeString, DWORD>> calls;
};

// Install with Msi::CNormalUserTokenOverride: a primary token of this process when `available`
// (so a normal-user launch runs under Wine), none otherwise.
struct CFakeToken : Msi::CNormalUserToken {
  Vrn::CKernelHandle Make() override {
    Vrn::CKernelHandle token;
    if (available) ::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, token.Put());
    return token;
  }
  bool available = false;
};

// Install with Msi::CLocaleSupportOverride: every locale but the `missing` ones is installed.
struct CFakeLocales : Msi::CLocaleSupport {
  bool IsInstalled(LCID locale) override { return std::find(missing.begin(), missing.end(), locale) == missing.end(); }
  std::vector<LCID> missing;
};

}  // namespace TestSupport
