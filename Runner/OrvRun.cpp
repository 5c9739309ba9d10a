// orvrun: runs one action of the library against a package without installing it. The package is
// opened as an installer session, costing runs when asked, the given properties are set, and the
// action is called in this process (the library's code is linked in and exported under the same
// names as from OrvantCA.dll). What the action did is printed: its result, the properties it wrote,
// the installer messages it sent, the boxes it showed and its custom-action log.
// With --check it runs nothing: it checks how the package uses the library (PackageCheck.h).
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "MessageHandlers.h"
#include "MsiHelper.h"
#include "PackageCheck.h"
#include "Setup.h"
#include "UnicodeString.h"
#include "VrnWindows.h"
// msi headers after windows.h
#include <msi.h>
#include <msiquery.h>

namespace {

using Vrn::CUnicodeString;

// Bad input: a one-line message and this exit status.
constexpr int kUsageExit = 87;  // ERROR_INVALID_PARAMETER

struct CUsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr char kUsage[] =
    "usage: orvrun PACKAGE.msi ACTION [NAME=VALUE ...] [--cost] [--deferred \"CustomActionData\"] "
    "[--answer OK|Cancel|Yes|No|Retry|Ignore|Abort ...] [--json] | orvrun --check PACKAGE.msi [--json]";

// Exit status of --check for a package with errors (warnings alone give 0).
constexpr int kCheckErrorsExit = 1;

struct CAnswerName {
  const wchar_t* name;
  int answer;
};
constexpr CAnswerName kAnswers[] = {{L"OK", IDOK},       {L"Cancel", IDCANCEL}, {L"Abort", IDABORT},
                                    {L"Retry", IDRETRY}, {L"Ignore", IDIGNORE}, {L"Yes", IDYES},
                                    {L"No", IDNO}};

std::optional<int> AnswerByName(const CUnicodeString& name) {
  for (const CAnswerName& known : kAnswers)
    if (name.EqualsNoCaseAscii(known.name)) return known.answer;
  return std::nullopt;
}

CUnicodeString AnswerName(int answer) {
  for (const CAnswerName& known : kAnswers)
    if (known.answer == answer) return known.name;
  return CUnicodeString(L"(") + CUnicodeString(std::to_wstring(answer).c_str()) + L")";
}

struct COptions {
  CUnicodeString package;
  CUnicodeString action;
  std::vector<std::pair<CUnicodeString, CUnicodeString>> properties;
  bool cost = false;
  std::optional<CUnicodeString> customActionData;
  std::vector<int> answers;
  bool json = false;
};

// A property name as the installer accepts it in a command line: a letter or "_" first, then
// letters, digits, "_" and ".".
bool IsPropertyName(std::wstring_view name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const wchar_t ch = name[i];
    const bool letter = (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z') || ch == L'_';
    const bool digit = ch >= L'0' && ch <= L'9';
    if (!letter && !(i > 0 && (digit || ch == L'.'))) return false;
  }
  return true;
}

COptions ParseArguments(int argc, wchar_t** argv) {
  COptions options;
  std::vector<CUnicodeString> positional;
  bool takingAnswers = false;
  for (int i = 1; i < argc; ++i) {
    const CUnicodeString argument(argv[i]);
    if (argument == L"--cost") {
      options.cost = true;
    } else if (argument == L"--json") {
      options.json = true;
    } else if (argument == L"--deferred") {
      if (++i >= argc) throw CUsageError("--deferred needs the CustomActionData text");
      options.customActionData = CUnicodeString(argv[i]);
    } else if (argument == L"--answer") {
      if (i + 1 >= argc) throw CUsageError("--answer needs at least one of OK, Cancel, Yes, No, Retry, Ignore, Abort");
      takingAnswers = true;
      continue;
    } else if (takingAnswers && AnswerByName(argument)) {
      options.answers.push_back(*AnswerByName(argument));
      continue;
    } else if (argument.View().starts_with(L"--")) {
      throw CUsageError("unknown option " + argument.ToUtf8());
    } else if (positional.size() < 2) {
      positional.push_back(argument);
    } else {
      const size_t equals = argument.Find(L'=');
      if (equals == CUnicodeString::npos || !IsPropertyName(argument.View().substr(0, equals)))
        throw CUsageError("malformed property item \"" + argument.ToUtf8() + "\": expected NAME=VALUE");
      options.properties.emplace_back(argument.Left(equals), argument.Mid(equals + 1));
    }
    if (takingAnswers && options.answers.empty())
      throw CUsageError("--answer needs at least one of OK, Cancel, Yes, No, Retry, Ignore, Abort");
    takingAnswers = false;
  }
  if (takingAnswers && options.answers.empty())
    throw CUsageError("--answer needs at least one of OK, Cancel, Yes, No, Retry, Ignore, Abort");
  if (positional.size() < 2) throw CUsageError(kUsage);
  options.package = positional[0];
  options.action = positional[1];
  return options;
}

// ---- What the action did ----

struct CPropertyChange {
  CUnicodeString name;
  CUnicodeString previous;
  CUnicodeString value;
  UINT answer = ERROR_SUCCESS;
};

struct CMessage {
  CUnicodeString kind;
  CUnicodeString text;
};

struct CBox {
  CUnicodeString text;
  CUnicodeString caption;
  int answer = IDCANCEL;
  bool answered = false;
};

// Everything recorded while the action runs; the installer's message callback and the box seam
// both write here.
struct CRecording {
  bool active = false;
  std::vector<CPropertyChange> properties;
  std::vector<CMessage> messages;
  std::vector<CBox> boxes;
  std::vector<int> answers;
  size_t nextAnswer = 0;

  // The next scripted answer; a box beyond the script is answered Cancel and marked unanswered.
  int Answer(const CUnicodeString& text, const CUnicodeString& caption) {
    CBox box{text, caption, IDCANCEL, nextAnswer < answers.size()};
    if (box.answered) box.answer = answers[nextAnswer++];
    boxes.push_back(box);
    return box.answer;
  }
};

CRecording g_recording;

// Property writes of the session facade; changes to one property are folded into one entry.
class CPropertyRecorder : public Msi::CSessionObserver {
 public:
  explicit CPropertyRecorder(bool scriptMode) : m_scriptMode(scriptMode) {}
  void PropertyWritten(const CUnicodeString& name, const CUnicodeString& previous, const CUnicodeString& value,
                       UINT answer) override {
    for (CPropertyChange& change : g_recording.properties)
      if (change.name == name) {
        change.value = value;
        change.answer = answer;
        return;
      }
    g_recording.properties.push_back({name, previous, value, answer});
  }
  bool SimulatesScriptMode() const override { return m_scriptMode; }

 private:
  bool m_scriptMode;
};

// Boxes the library shows itself (with a window) are answered from the script.
class CScriptedBoxes : public Vrn::CUserInterface {
 public:
  int ShowBox(HWND, const wchar_t* text, const wchar_t* caption, UINT) override {
    return g_recording.Answer(text ? text : L"", caption ? caption : L"");
  }
  BOOL BringToForeground(HWND) override { return TRUE; }
};

CUnicodeString MessageKindName(UINT kind) {
  switch (kind) {
    case INSTALLMESSAGE_FATALEXIT:
      return L"fatal";
    case INSTALLMESSAGE_ERROR:
      return L"error";
    case INSTALLMESSAGE_WARNING:
      return L"warning";
    case INSTALLMESSAGE_USER:
      return L"user";
    case INSTALLMESSAGE_ACTIONSTART:
      return L"actionstart";
    case INSTALLMESSAGE_ACTIONDATA:
      return L"actiondata";
    case INSTALLMESSAGE_PROGRESS:
      return L"progress";
    default:
      return L"other";
  }
}

// The installer's messages during the call. A message with buttons other than OK is a question:
// it is a box, answered from the script.
INT CALLBACK RecordInstallerMessage(LPVOID, UINT type, LPCWSTR message) {
  if (!g_recording.active) return 0;
  const UINT kind = type & 0xFF000000;
  const CUnicodeString text(message ? message : L"");
  g_recording.messages.push_back({MessageKindName(kind), text});
  const bool question =
      (kind == INSTALLMESSAGE_ERROR || kind == INSTALLMESSAGE_WARNING || kind == INSTALLMESSAGE_USER) &&
      (type & MB_TYPEMASK) != MB_OK;
  return question ? g_recording.Answer(text, L"") : 0;
}

// ---- Output ----

CUnicodeString ResultMeaning(UINT result) {
  switch (result) {
    case ERROR_SUCCESS:
      return L"ERROR_SUCCESS: the action succeeded";
    case ERROR_INSTALL_USEREXIT:
      return L"ERROR_INSTALL_USEREXIT: the user cancelled the installation";
    case ERROR_INSTALL_FAILURE:
      return L"ERROR_INSTALL_FAILURE: the action failed, the installation stops";
    case ERROR_NO_MORE_ITEMS:
      return L"ERROR_NO_MORE_ITEMS: the action skipped the remaining actions";
    case ERROR_FUNCTION_NOT_CALLED:
      return L"ERROR_FUNCTION_NOT_CALLED: the action was not run";
    default:
      return L"an unexpected result";
  }
}

// A JSON string of UTF-8 text.
std::string JsonText(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(ch) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(ch));
          out += escaped;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string JsonText(const CUnicodeString& text) { return JsonText(text.ToUtf8()); }

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

struct CReport {
  CUnicodeString action;
  UINT result = 0;
  CUnicodeString log;
};

void PrintText(const CReport& report) {
  Print("result: " + std::to_string(report.result) + " (" + ResultMeaning(report.result).ToUtf8() + ")\n");
  Print("properties written: " + std::to_string(g_recording.properties.size()) + "\n");
  for (const CPropertyChange& change : g_recording.properties) {
    Print("  " + change.name.ToUtf8() + ": \"" + change.previous.ToUtf8() + "\" -> \"" + change.value.ToUtf8() + "\"");
    if (change.answer != ERROR_SUCCESS) Print(" (refused: " + std::to_string(change.answer) + ")");
    Print("\n");
  }
  Print("installer messages: " + std::to_string(g_recording.messages.size()) + "\n");
  for (const CMessage& message : g_recording.messages)
    Print("  " + message.kind.ToUtf8() + ": " + message.text.ToUtf8() + "\n");
  Print("boxes: " + std::to_string(g_recording.boxes.size()) + "\n");
  for (const CBox& box : g_recording.boxes)
    Print("  [" + box.caption.ToUtf8() + "] " + box.text.ToUtf8() + " -> " + AnswerName(box.answer).ToUtf8() +
          (box.answered ? "" : " (not answered)") + "\n");
  Print("custom-action log:\n");
  CUnicodeString log = report.log;
  log.Replace(L"\r\n", L"\n");
  Print(log.ToUtf8());
  if (!log.IsEmpty() && !log.View().ends_with(L"\n")) Print("\n");
}

void PrintJson(const CReport& report) {
  std::string out = "{\"action\":" + JsonText(report.action) + ",\"result\":" + std::to_string(report.result) +
                    ",\"meaning\":" + JsonText(ResultMeaning(report.result)) + ",\"properties\":[";
  for (size_t i = 0; i < g_recording.properties.size(); ++i) {
    const CPropertyChange& change = g_recording.properties[i];
    out += (i ? ",{" : "{") + std::string("\"name\":") + JsonText(change.name) +
           ",\"old\":" + JsonText(change.previous) + ",\"new\":" + JsonText(change.value) +
           ",\"answer\":" + std::to_string(change.answer) + "}";
  }
  out += "],\"messages\":[";
  for (size_t i = 0; i < g_recording.messages.size(); ++i)
    out += (i ? ",{" : "{") + std::string("\"type\":") + JsonText(g_recording.messages[i].kind) +
           ",\"text\":" + JsonText(g_recording.messages[i].text) + "}";
  out += "],\"boxes\":[";
  for (size_t i = 0; i < g_recording.boxes.size(); ++i) {
    const CBox& box = g_recording.boxes[i];
    out += (i ? ",{" : "{") + std::string("\"caption\":") + JsonText(box.caption) + ",\"text\":" + JsonText(box.text) +
           ",\"answer\":" + JsonText(AnswerName(box.answer)) + ",\"answered\":" + (box.answered ? "true" : "false") +
           "}";
  }
  out += "],\"log\":" + JsonText(report.log) + "}\n";
  Print(out);
}

// ---- The run ----

CUnicodeString ReadSessionProperty(MSIHANDLE session, const wchar_t* name) {
  DWORD size = 0;
  wchar_t empty[1] = {};
  if (MsiGetPropertyW(session, name, empty, &size) != ERROR_MORE_DATA) return {};
  CUnicodeString value;
  ++size;
  if (MsiGetPropertyW(session, name, value.GetBuffer(size), &size) != ERROR_SUCCESS) size = 0;
  value.ReleaseBuffer(size);
  return value;
}

// Values of the properties named in MsiHiddenProperties are shown as "******" everywhere.
void MaskHiddenValues(MSIHANDLE session, CReport& report) {
  const CUnicodeString hidden = ReadSessionProperty(session, L"MsiHiddenProperties");
  std::vector<CUnicodeString> names;
  for (size_t start = 0; start <= hidden.Length();) {
    size_t end = hidden.Find(L';', start);
    if (end == CUnicodeString::npos) end = hidden.Length();
    if (end > start) names.push_back(hidden.Mid(start, end - start));
    start = end + 1;
  }
  for (CPropertyChange& change : g_recording.properties) {
    bool masked = false;
    for (const CUnicodeString& name : names) masked = masked || name == change.name;
    if (!masked) continue;
    for (CUnicodeString* value : {&change.previous, &change.value}) {
      if (!value->IsEmpty()) {
        report.log.Replace(value->View(), L"******");
        for (CMessage& message : g_recording.messages) message.text.Replace(value->View(), L"******");
      }
      *value = value->IsEmpty() ? CUnicodeString() : CUnicodeString(L"******");
    }
  }
}

struct CSession {
  MSIHANDLE handle = 0;
  ~CSession() {
    if (handle) MsiCloseHandle(handle);
  }
};

// The package's absolute path; a path that has none is kept as given (and is then not found).
CUnicodeString PackagePath(const CUnicodeString& path) {
  CUnicodeString full = path;
  Vrn::Caught([&] { full = Vrn::FullPath(path); });
  return full;
}

// A private temporary folder, so that the custom-action log of this run is a file of its own.
CUnicodeString UsePrivateTemporaryFolder() {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH, temp);
  const CUnicodeString folder =
      CUnicodeString(temp) + L"orvrun-" + CUnicodeString(std::to_wstring(GetCurrentProcessId()).c_str());
  CreateDirectoryW(folder.c_str(), nullptr);
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  SetEnvironmentVariableW(L"TEMP", folder.c_str());
  return folder;
}

CUnicodeString ReadLog(const CUnicodeString& path) {
  if (path.IsEmpty()) return {};
  Vrn::CFileHandle file(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return {};
  std::string bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read) bytes.append(buffer, read);
  CUnicodeString text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const wchar_t ch =
        static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    if (ch != 0xFEFF) text += ch;  // every append starts with a byte-order mark
  }
  return text;
}

int Run(const COptions& options) {
  using Action = UINT(__stdcall*)(MSIHANDLE);
  const std::string actionName = options.action.ToUtf8();
  for (const char* other : Runner::kNonActionExports)
    if (actionName == other) throw CUsageError(actionName + " is not an action of the library");
  const auto action =
      reinterpret_cast<Action>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), actionName.c_str())));
  if (!action) throw CUsageError("no action named " + actionName + " is exported by the library");

  const CUnicodeString package = PackagePath(options.package);
  const DWORD attributes = GetFileAttributesW(package.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    throw CUsageError("no such package file: " + options.package.ToUtf8());

  const CUnicodeString temporaryFolder = UsePrivateTemporaryFolder();
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiSetExternalUIW(RecordInstallerMessage,
                    INSTALLLOGMODE_FATALEXIT | INSTALLLOGMODE_ERROR | INSTALLLOGMODE_WARNING | INSTALLLOGMODE_USER |
                        INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_PROGRESS,
                    nullptr);
  CSession session;
  const UINT opened = MsiOpenPackageExW(package.c_str(), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE, &session.handle);
  if (opened != ERROR_SUCCESS)
    throw CUsageError("cannot open " + options.package.ToUtf8() + " as a package (installer error " +
                      std::to_string(opened) + ")");
  if (options.cost)
    for (const wchar_t* step : {L"CostInitialize", L"FileCost", L"CostFinalize"})
      if (const UINT answer = MsiDoActionW(session.handle, step); answer != ERROR_SUCCESS)
        throw CUsageError("costing failed in " + CUnicodeString(step).ToUtf8() + " (installer error " +
                          std::to_string(answer) + ")");
  for (const auto& [name, value] : options.properties)
    if (MsiSetPropertyW(session.handle, name.c_str(), value.c_str()) != ERROR_SUCCESS)
      throw CUsageError("the installer refused the property " + name.ToUtf8());
  if (options.customActionData &&
      MsiSetPropertyW(session.handle, L"CustomActionData", options.customActionData->c_str()) != ERROR_SUCCESS)
    throw CUsageError("the installer refused CustomActionData");

  CReport report;
  report.action = options.action;
  {
    CPropertyRecorder recorder(options.customActionData.has_value());
    Msi::CSessionObserverScope observing(recorder);
    CScriptedBoxes boxes;
    Vrn::CUserInterfaceOverride answering(boxes);
    g_recording.answers = options.answers;
    g_recording.active = true;
    report.result = action(session.handle);
    g_recording.active = false;
  }
  const CUnicodeString logFile = Msi::CustomActionLog().FileName();
  report.log = ReadLog(logFile);
  MaskHiddenValues(session.handle, report);
  if (!logFile.IsEmpty()) DeleteFileW(logFile.c_str());
  RemoveDirectoryW(temporaryFolder.c_str());

  options.json ? PrintJson(report) : PrintText(report);
  std::fflush(stdout);

  size_t unanswered = 0;
  for (const CBox& box : g_recording.boxes) unanswered += box.answered ? 0 : 1;
  if (unanswered) {
    std::fprintf(stderr, "orvrun: %zu box(es) had no answer and were answered Cancel\n", unanswered);
    return kUsageExit;
  }
  if (g_recording.nextAnswer < options.answers.size()) {
    std::fprintf(stderr, "orvrun: %zu answer(s) given, but the action showed %zu box(es)\n", options.answers.size(),
                 g_recording.boxes.size());
    return kUsageExit;
  }
  return static_cast<int>(report.result);
}

// ---- The package check ----

struct CCheckOptions {
  CUnicodeString package;
  bool json = false;
};

// The arguments of --check, or nothing when --check is not among them.
std::optional<CCheckOptions> ParseCheckArguments(int argc, wchar_t** argv) {
  if (std::none_of(argv + 1, argv + argc,
                   [](const wchar_t* argument) { return std::wstring_view(argument) == L"--check"; }))
    return std::nullopt;
  CCheckOptions options;
  std::vector<CUnicodeString> positional;
  for (int i = 1; i < argc; ++i) {
    const CUnicodeString argument(argv[i]);
    if (argument == L"--json")
      options.json = true;
    else if (argument.StartsWith(L"--") && argument != L"--check")
      throw CUsageError("unknown option " + argument.ToUtf8() + " with --check");
    else if (argument != L"--check")
      positional.push_back(argument);
  }
  if (positional.size() != 1) throw CUsageError(kUsage);
  options.package = positional[0];
  return options;
}

const char* SeverityName(Runner::Severity severity) {
  return severity == Runner::Severity::Error ? "error" : "warning";
}

// One line per finding, "error: RULE: TABLE.ROW: text", or one JSON object; 1 when there are errors.
int RunCheck(const CCheckOptions& options) {
  const Runner::CCheckReport report = Runner::CheckPackage(PackagePath(options.package));
  const auto errors =
      std::count_if(report.findings.begin(), report.findings.end(),
                    [](const Runner::CFinding& finding) { return finding.severity == Runner::Severity::Error; });
  const auto warnings = static_cast<std::ptrdiff_t>(report.findings.size()) - errors;
  if (options.json) {
    std::string out =
        "{\"errors\":" + std::to_string(errors) + ",\"warnings\":" + std::to_string(warnings) + ",\"findings\":[";
    for (size_t i = 0; i < report.findings.size(); ++i) {
      const Runner::CFinding& finding = report.findings[i];
      out += (i ? ",{" : "{") + std::string("\"severity\":") + JsonText(SeverityName(finding.severity)) +
             ",\"rule\":" + JsonText(finding.rule) + ",\"table\":" + JsonText(finding.table) +
             ",\"row\":" + JsonText(finding.row) + ",\"message\":" + JsonText(finding.message) + "}";
    }
    Print(out + "]}\n");
  } else {
    for (const Runner::CFinding& finding : report.findings)
      Print(std::string(SeverityName(finding.severity)) + ": " + finding.rule + ": " + finding.table +
            (finding.row.empty() ? "" : "." + finding.row) + ": " + finding.message + "\n");
  }
  std::fflush(stdout);
  std::string binaries;
  for (const std::string& binary : report.libraryBinaries)
    binaries += (binaries.empty() ? "Binary." : ", Binary.") + binary;
  std::fprintf(stderr, "orvrun: %s: %td error(s), %td warning(s); the library is in %s\n",
               options.package.ToUtf8().c_str(), errors, warnings,
               binaries.empty() ? "no Binary row" : binaries.c_str());
  return errors ? kCheckErrorsExit : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Vrn::RecordLibraryModule(GetModuleHandleW(nullptr));
  try {
    if (const std::optional<CCheckOptions> check = ParseCheckArguments(argc, argv)) return RunCheck(*check);
    return Run(ParseArguments(argc, argv));
  } catch (const CUsageError& error) {
    std::fprintf(stderr, "orvrun: %s\n", error.what());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "orvrun: %s\n", error.what());
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr error(raw);
    std::fprintf(stderr, "orvrun: %s\n", error->MessageText().ToUtf8().c_str());
  } catch (...) {
    std::fprintf(stderr, "orvrun: unexpected failure\n");
  }
  return kUsageExit;
}
