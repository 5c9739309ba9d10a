// The feature-management actions: running the feature tool with a package's command line, with or
// without a time limit, and warning the user about the system features the product needs that are
// disabled.
#include "Dism.h"

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "InstallHelper.h"
#include "MsiHelper.h"
#include "ProcessLauncher.h"

namespace Msi {

namespace {

bool IsSeparatorLine(const CUnicodeString& line) {
  return !line.IsEmpty() && line.View().find_first_not_of(L"-| \t") == std::wstring_view::npos;
}

}  // namespace

CFeatureStates ParseFeatureTable(const std::vector<CUnicodeString>& lines) {
  CFeatureStates states;
  auto line = lines.begin();
  while (line != lines.end() && !line->StartsWith(L"Feature Name")) ++line;
  if (line == lines.end()) return states;
  ++line;
  if (line != lines.end() && IsSeparatorLine(*line)) ++line;
  for (; line != lines.end() && !line->IsEmpty(); ++line) {
    bool enabled;
    if (line->Find(L"Enable", 1) != CUnicodeString::npos)
      enabled = true;
    else if (line->Find(L"Disable", 1) != CUnicodeString::npos)
      enabled = false;
    else
      break;
    CUnicodeString name = line->Left(line->Find(L'|'));
    states.emplace(name.TrimRight(), enabled);
  }
  return states;
}

std::vector<CUnicodeString> CFeatureTool::ListFeatures() {
  std::vector<CUnicodeString> lines;
  RunCommandCaptureLines(L"dism /Online /Get-Features /Format:Table /English", lines);
  return lines;
}

}  // namespace Msi

namespace {

using Msi::CUnicodeString;

constexpr wchar_t kLineBreak[] = L"\n";
constexpr UINT kQuestionStyle = MB_OKCANCEL | MB_ICONQUESTION;
constexpr DWORD kDefaultRunSeconds = 1200;

enum class FeatureColumn : UINT { Feature = 1, Caption1 = 2, Caption2 = 3, UIFeatureName = 4 };

struct CFeatureTable {
  Msi::CColumnList features, captions1, captions2, uiNames;
};

// The feature table of the system generation: VersionNT 601 (7 / 2008 R2), 602 (8 / 2012),
// 603 (8.1 and later / 2012 R2 and later), workstation or server.
const wchar_t* FeatureTableName(int versionNt, int productType) {
  const bool workstation = productType == 1;
  switch (versionNt) {
    case 601:
      return L"OV_System_W7_Features";
    case 602:
      return workstation ? L"OV_System_W8_Features" : L"OV_System_W12_Features";
    case 603:
      return workstation ? L"OV_System_W10_Features" : L"OV_System_W12_Features";
  }
  Vrn::Check(false);  // no table for this system
  return nullptr;
}

int RequiredNumber(MSIHANDLE session, const wchar_t* name) {
  const std::optional<int32_t> number = Vrn::StrictInteger<int32_t>(Msi::GetProperty(session, name));
  Vrn::Check(number.has_value());
  return *number;
}

CFeatureTable ReadFeatureTable(MSIHANDLE session) {
  const CUnicodeString table =
      FeatureTableName(RequiredNumber(session, L"VersionNT"), RequiredNumber(session, L"MsiNTProductType"));
  const CUnicodeString query = L"SELECT Feature, Caption1, Caption2, UIFeatureName FROM " + table;
  CFeatureTable rows;
  Msi::WithActiveDatabase(session, [&](MSIHANDLE database) {
    Msi::ReadTableColumns(database, Msi::CTableQuery<FeatureColumn>{query.c_str()},
                          {{FeatureColumn::Feature, rows.features},
                           {FeatureColumn::Caption1, rows.captions1},
                           {FeatureColumn::Caption2, rows.captions2},
                           {FeatureColumn::UIFeatureName, rows.uiNames}});
  });
  return rows;
}

// The disabled features of the table, grouped under their headings; features the tool does not
// list are only logged. Sets IS_VALID_IIS to the empty text when the web server is disabled.
CUnicodeString MissingFeaturesText(MSIHANDLE session, const CFeatureTable& rows, const Msi::CFeatureStates& states) {
  CUnicodeString text, lastCaption1, lastCaption2;
  for (size_t row = 0; row < rows.features.size(); ++row) {
    const CUnicodeString& feature = rows.features[row];
    const auto state = states.find(feature);
    if (state == states.end()) {
      Msi::CustomActionLog() << L"ERROR: Not found feature: " << feature << L"\r\n";
      continue;
    }
    if (state->second) continue;
    if (feature == L"IIS-WebServer" || feature == L"IIS-ManagementConsole")
      Msi::SetProperty(session, L"IS_VALID_IIS", L"");
    if (rows.captions1[row] != lastCaption1) {
      text += kLineBreak + rows.captions1[row];
      lastCaption1 = rows.captions1[row];
    }
    const CUnicodeString& caption2 = rows.captions2[row];
    if (!caption2.IsEmpty() && caption2 != lastCaption2) {
      text += kLineBreak + (L"\t" + caption2);
      lastCaption2 = caption2;
    }
    text += kLineBreak;
    text += caption2.IsEmpty() ? L"\t" : L"\t\t";
    text += rows.uiNames[row];
  }
  return text;
}

// Asks OK/Cancel with the message property and the appended text. Cancel: DISM_GF_VALID is
// cleared and the result is 1602; OK: DISM_GF_CONTINUE is "Yes".
UINT Ask(MSIHANDLE session, const wchar_t* messageProperty, const CUnicodeString& appended) {
  const Msi::CMessageContext context(session);
  const int answer = Msi::ShowPropertyMessage(context, messageProperty, appended, kQuestionStyle);
  if (answer == IDCANCEL) {
    Msi::SetProperty(session, L"DISM_GF_VALID", L"");
    return ERROR_INSTALL_USEREXIT;
  }
  if (answer == IDOK) Msi::SetProperty(session, L"DISM_GF_CONTINUE", L"Yes");
  return ERROR_SUCCESS;
}

UINT FeaturesWarningBody(MSIHANDLE session) {
  Msi::CustomActionLog() << L"DISM_FeaturesWarning\r\n\r\n";
  const CFeatureTable rows = ReadFeatureTable(session);
  const Msi::CFeatureStates states = Msi::ParseFeatureTable(Msi::CFeatureToolSeam::Current().ListFeatures());
  const CUnicodeString missing = MissingFeaturesText(session, rows, states);

  const CUnicodeString warning = Msi::GetPropertySilent(session, L"MT_DISM_FeaturesWarning");
  const CUnicodeString warningAppend = Msi::GetPropertySilent(session, L"MT_DISM_FeaturesWarning_APPEND");
  const CUnicodeString warningAppend0 = Msi::GetPropertySilent(session, L"MT_DISM_FeaturesWarning_APPEND0");
  const CUnicodeString extra = Msi::GetPropertySilent(session, L"DISM_FeaturesWarning_APPEND");
  const bool hidden = Msi::GetBoolProperty(session, L"DISM_FeaturesWarning_Hide");
  const CUnicodeString twoBreaks = CUnicodeString(kLineBreak) + kLineBreak;

  if (missing.IsEmpty()) {
    if (extra.IsEmpty()) {
      Msi::SetProperty(session, L"DISM_GF_VALID", L"Yes");
      return ERROR_SUCCESS;
    }
    if (hidden) {
      Msi::SetProperty(session, L"DISM_WARNING", warningAppend0 + twoBreaks + extra);
      return ERROR_SUCCESS;
    }
    return Ask(session, L"MT_DISM_FeaturesWarning_APPEND0", twoBreaks + extra);
  }
  if (extra.IsEmpty()) {
    if (hidden) {
      Msi::SetProperty(session, L"DISM_WARNING", warning + missing);
      return ERROR_SUCCESS;
    }
    return Ask(session, L"MT_DISM_FeaturesWarning", missing);
  }
  const CUnicodeString text = warningAppend + twoBreaks + extra + twoBreaks + warning + missing;
  if (hidden) {
    Msi::SetProperty(session, L"DISM_WARNING", text);
    return ERROR_SUCCESS;
  }
  return Ask(session, L"MT_DISM_FeaturesWarning_APPEND0", text);
}

UINT RunBody(MSIHANDLE session) {
  const CUnicodeString command = Msi::GetRequiredProperty(session, L"DISM_RUN_CMD");
  std::vector<CUnicodeString> ignoredOutput;
  Msi::RunCommandCaptureLines(command, ignoredOutput);
  return ERROR_SUCCESS;
}

UINT RunExtBody(MSIHANDLE session) {
  const CUnicodeString command = Msi::GetRequiredProperty(session, L"DISM_RUN_CMD");
  const CUnicodeString secondsText = Msi::GetPropertySilent(session, L"DISM_RUN_CMD_SECONDS");
  DWORD seconds = kDefaultRunSeconds;
  if (!secondsText.IsEmpty()) {
    const std::optional<uint32_t> number = Vrn::StrictInteger<uint32_t>(secondsText);
    Vrn::Check(number.has_value());
    seconds = *number;
  }
  if (Msi::RunCommandTimed(command, seconds)) return ERROR_SUCCESS;
  const Msi::CMessageContext context(session);
  Msi::ShowPropertyMessage(context, L"MT_ERR_FAIL_TO_MANIPULATE_WITH_PROCESS", L"", MB_ICONINFORMATION);
  return ERROR_INSTALL_FAILURE;
}

}  // namespace

ORV_ACTION(DISM_Run, RunBody, .reads = L"DISM_RUN_CMD")
ORV_ACTION(DISM_RunExt, RunExtBody, .reads = L"DISM_RUN_CMD DISM_RUN_CMD_SECONDS",
           .shows = L"MT_ERR_FAIL_TO_MANIPULATE_WITH_PROCESS")
ORV_ACTION(DISM_FeaturesWarning, FeaturesWarningBody,
           .reads =
               L"VersionNT MsiNTProductType DISM_FeaturesWarning_APPEND DISM_FeaturesWarning_Hide "
               L"MT_DISM_FeaturesWarning_APPEND MT_DISM_FeaturesWarning_APPEND0",
           .shows = L"MT_DISM_FeaturesWarning",
           .tables = L"OV_System_W7_Features|OV_System_W8_Features|OV_System_W10_Features|OV_System_W12_Features")
