// The port checks over OV_Port: a single port, the table's ports (with alternatives, duplicates and
// IIS sites), a port range, and whether the firewall has a port open.
#include "CheckPort.h"

#include <winsock2.h>

#include <vector>

#include "ActionFrame.h"
#include "CustomActionLog.h"
#include "DatabaseAccess.h"
#include "Errors.h"
#include "Firewall.h"
#include "IisCommand.h"
#include "InstallHelper.h"

// The question the range check asks (an export of the session actions).
extern "C" UINT __stdcall Request(MSIHANDLE session);

namespace Msi {

namespace {

constexpr UINT kWarningStyle = MB_ICONWARNING;       // 0x30
constexpr UINT kInformationStyle = MB_ICONASTERISK;  // 0x40
constexpr int32_t kMaxPort = 65535;
// A range wider than this asks the user before it is accepted.
constexpr uint32_t kQuietRangeSpan = 300;

enum class PortColumn : UINT { Number = 1, Site = 2, Component = 3 };
constexpr CTableQuery<PortColumn> kPortQuery{L"SELECT PortNumber, SiteName, Component FROM OV_Port"};
enum class SiteColumn : UINT { Component = 1, Comment = 2 };
constexpr CTableQuery<SiteColumn> kSiteQuery{L"SELECT Component, Comment FROM OV_Port"};

// The rows of OV_Port: the port property names, the site names and the components.
struct CPortRows {
  CColumnList properties, sites, components;
  size_t Count() const noexcept { return properties.size(); }
};

CPortRows ReadPortRows(MSIHANDLE session) {
  CPortRows rows;
  WithActiveDatabase(session, [&](MSIHANDLE database) {
    ReadTableColumns(database, kPortQuery,
                     {{PortColumn::Number, rows.properties},
                      {PortColumn::Site, rows.sites},
                      {PortColumn::Component, rows.components}});
  });
  return rows;
}

using Msi::LogActionName;

std::optional<int32_t> SignedPort(const CUnicodeString& text) { return Vrn::StrictInteger<int32_t>(text); }

void ShowWarning(MSIHANDLE session, const CUnicodeString& messageProperty, const CUnicodeString& param) {
  ShowPropertyMessageWithParams(CMessageContext(session), true, messageProperty, {param}, kWarningStyle);
}

// How isPortEnable reports a refused port.
enum class Report { Show, Quiet, Defer };

struct CPortVerdict {
  bool usable = false;
  CUnicodeString messageProperty;  // the refusal's message (Report::Defer)
};

// True when no IIS site has a binding matching the port (see IisBindingQueryCommand).
bool NoIisSiteOnPort(uint32_t port) {
  return IisCommand().CaptureBindings(IisBindingQueryCommand(port)).Find(L"SITE") == CUnicodeString::npos;
}

bool IisSiteExists(const CUnicodeString& name) {
  return IisCommand().CaptureSites(IisSiteQueryCommand(name)).Find(L"SITE") != CUnicodeString::npos;
}

// The fixed order of the checks: port 80 needs IIS, the range, the bind test, IIS's bindings.
CPortVerdict IsPortEnable(MSIHANDLE session, int32_t port, Report report, bool iis) {
  const CUnicodeString portText = CUnicodeString::FromInt(port);
  CustomActionLog() << L"isPortEnable: port:" << portText << L"\r\n";
  CPortVerdict verdict;
  CUnicodeString param = portText;
  if (port == 80 && !iis) {
    verdict.messageProperty = L"MT_Port80andNotIIS";
    param = L"80";
    CustomActionLog() << L"isPortEnable: ERROR: port = 80 and IIS not installed\r\n";
  } else if (port < 1 || port > kMaxPort) {
    verdict.messageProperty = L"MT_PortInvalidValue";
    CustomActionLog() << L"isPortEnable: ERROR: Illegial port number: " << portText << L"\r\n";
  } else {
    CustomActionLog() << L"isPortEnable: 1\r\n";
    if (IsPortFree(static_cast<uint16_t>(port))) {
      CustomActionLog() << L"isPortEnable: 2\r\n";
      verdict.usable = true;
      if (iis) {
        verdict.usable = NoIisSiteOnPort(static_cast<uint32_t>(port));
        CustomActionLog() << L"isPortEnable: CheckIfNoIISWebSiteOnPort:" << (verdict.usable ? L"1" : L"0") << L"\r\n";
      }
    }
    if (!verdict.usable) verdict.messageProperty = L"MT_CannotOpenPort";
  }
  if (!verdict.usable && report == Report::Show) ShowWarning(session, verdict.messageProperty, param);
  if (report != Report::Defer) verdict.messageProperty.Clear();
  return verdict;
}

// The port problems of a table or range, shown as one message.
class CProblemList {
 public:
  void Add(const CUnicodeString& port, const CUnicodeString& messageProperty) {
    m_entries.push_back({port, messageProperty});
  }
  bool IsEmpty() const noexcept { return m_entries.empty(); }
  // "MT_PortTableCaption" with one "<port, at most 5 characters>\t<message>\n\n" line per problem.
  void Show(MSIHANDLE session) const {
    CUnicodeString table;
    for (const auto& [port, messageProperty] : m_entries)
      table += port.Left(5) + L"\t" + GetProperty(session, messageProperty) + L"\n\n";
    ShowPropertyMessage(CMessageContext(session), L"MT_PortTableCaption", table, kInformationStyle);
  }

 private:
  std::vector<std::pair<CUnicodeString, CUnicodeString>> m_entries;
};

// The first port text (not empty) held by two considered rows: rows whose component will be
// installed, or every row when forced.
std::optional<CUnicodeString> FindDuplicatePort(MSIHANDLE session, const CPortRows& rows, bool forced) {
  std::vector<CUnicodeString> seen;
  for (size_t i = 0; i < rows.Count(); ++i) {
    if (!forced && !ComponentWillBeInstalled(session, rows.components[i])) continue;
    const CUnicodeString value = GetProperty(session, rows.properties[i]);
    if (value.IsEmpty()) continue;
    for (const CUnicodeString& earlier : seen)
      if (earlier == value) return value;
    seen.push_back(value);
  }
  return std::nullopt;
}

const wchar_t* YesOrEmpty(bool yes) { return yes ? L"Yes" : L""; }

UINT CheckPortIsEnableBody(MSIHANDLE session) {
  LogActionName(L"CheckPortIsEnable");
  bool usable = false;
  if (const std::optional<int32_t> port = SignedPort(GetProperty(session, L"PORTNAME")))
    usable = IsPortEnable(session, *port, Report::Show, GetBoolProperty(session, L"IS_IIS")).usable;
  else
    CustomActionLog() << L"Cannot convert port number from string\r\n";
  SetProperty(session, L"PortIsOK", YesOrEmpty(usable));
  return ERROR_SUCCESS;
}

UINT CheckPortByTableBody(MSIHANDLE session) {
  LogActionName(L"CheckPortByTable");
  const bool iis = GetBoolProperty(session, L"IS_IIS");
  const CPortRows rows = ReadPortRows(session);
  std::vector<bool> local(rows.Count());
  std::vector<CUnicodeString> oldValues(rows.Count());
  for (size_t i = 0; i < rows.Count(); ++i) {
    local[i] = ComponentWillBeLocal(session, rows.components[i]);
    if (local[i]) oldValues[i] = GetProperty(session, L"OLD_" + rows.properties[i]);
  }
  // The alternative port: refused when it is not a number, already taken by a row that will be
  // installed, or not usable itself.
  const auto alternativeConflicts = [&](const CUnicodeString& value, CUnicodeString& selected) {
    const CUnicodeString alternative = GetProperty(session, L"SELECT_PORT");
    const std::optional<int32_t> port = SignedPort(alternative);
    selected = port ? alternative : value;
    if (!port) return true;
    for (size_t j = 0; j < rows.Count(); ++j)
      if (ComponentWillBeInstalled(session, rows.components[j]) &&
          GetProperty(session, rows.properties[j]) == alternative)
        return true;
    return !IsPortEnable(session, *port, Report::Quiet, iis).usable;
  };
  bool conflict = false;
  for (size_t i = 0; i < rows.Count() && !conflict; ++i) {
    if (!local[i]) continue;
    const CUnicodeString value = GetProperty(session, rows.properties[i]);
    const std::optional<int32_t> port = SignedPort(value);
    if (!port) {
      ShowWarning(session, L"MT_PortIsBad", value);
      CustomActionLog() << L"Cannot convert port number from string: " << value << L"\r\n";
      conflict = true;
    } else if (std::find(oldValues.begin(), oldValues.end(), value) != oldValues.end() ||
               IsPortEnable(session, *port, Report::Quiet, iis).usable) {
      continue;
    } else {
      CUnicodeString selected;
      conflict = alternativeConflicts(value, selected);
      if (conflict)
        SetProperty(session, L"SELECT_PORT", selected);
      else
        SetProperty(session, rows.properties[i], selected);
    }
    if (conflict) SetProperty(session, L"SELECT_SITE_NAME", rows.sites[i]);
  }
  SetProperty(session, L"ALL_PORTS_IS_OK", YesOrEmpty(!conflict));
  return ERROR_SUCCESS;
}

UINT NormalizePortByTableBody(MSIHANDLE session) {
  LogActionName(L"NormalizePortByTable");
  const CPortRows rows = ReadPortRows(session);
  for (size_t i = 0; i < rows.Count(); ++i) {
    if (!ComponentWillBeInstalled(session, rows.components[i])) continue;
    const CUnicodeString value = ReadPropertyRaw(session, rows.properties[i]);
    const CUnicodeString trimmed = value.Trimmed();
    if (trimmed != value) SetProperty(session, rows.properties[i], trimmed);
  }
  return ERROR_SUCCESS;
}

UINT CheckPortByTableOnlyBody(MSIHANDLE session) {
  LogActionName(L"CheckPortByTableOnly");
  const bool iis = GetBoolProperty(session, L"IS_IIS");
  const bool forced = GetBoolProperty(session, L"IS_CPTO_FORCEDLY");
  const CPortRows rows = ReadPortRows(session);
  std::vector<CUnicodeString> oldValues;
  for (const CUnicodeString& property : rows.properties) oldValues.push_back(GetProperty(session, L"OLD_" + property));
  CProblemList problems;
  for (size_t i = 0; i < rows.Count(); ++i) {
    const CUnicodeString value = GetProperty(session, rows.properties[i]);  // trimmed and written back
    const std::optional<int32_t> port = SignedPort(value);
    if (value.IsEmpty()) {
      problems.Add(value, L"MT_PortIsEmpty");
    } else if (!port) {
      problems.Add(value, L"MT_PortInvalidValue");
      CustomActionLog() << L"Cannot convert port number from string: " << value << L"\r\n";
    } else if (std::find(oldValues.begin(), oldValues.end(), value) == oldValues.end() &&
               (forced || ComponentWillBeLocal(session, rows.components[i]))) {
      const CPortVerdict verdict = IsPortEnable(session, *port, Report::Defer, iis);
      if (!verdict.usable) problems.Add(value, verdict.messageProperty);
    }
  }
  if (const std::optional<CUnicodeString> duplicate = FindDuplicatePort(session, rows, forced))
    problems.Add(*duplicate, L"MT_PortIsDubl");
  if (!problems.IsEmpty()) problems.Show(session);
  SetProperty(session, L"ALL_PORTS_IS_OK", YesOrEmpty(problems.IsEmpty()));
  return ERROR_SUCCESS;
}

UINT CheckSiteByTableBody(MSIHANDLE session) {
  LogActionName(L"CheckSiteByTable");
  bool sitesFree = true;
  if (GetBoolProperty(session, L"IS_IIS")) {
    CColumnList components, comments;
    WithActiveDatabase(session, [&](MSIHANDLE database) {
      ReadTableColumns(database, kSiteQuery, {{SiteColumn::Component, components}, {SiteColumn::Comment, comments}});
    });
    for (size_t i = 0; i < components.size(); ++i) {
      if (!ComponentWillBeInstalled(session, components[i]) || !IisSiteExists(comments[i])) continue;
      ShowWarning(session, L"MT_SiteAlreadyExist", comments[i]);
      sitesFree = false;
    }
  }
  SetProperty(session, L"ALL_SITES_IS_OK", YesOrEmpty(sitesFree));
  return ERROR_SUCCESS;
}

// The range's bounds, or nothing after the user was told what is wrong with them.
std::optional<std::pair<uint32_t, uint32_t>> ReadPortRange(MSIHANDLE session) {
  const CUnicodeString begin = GetProperty(session, L"BEGIN_RANGE_PORT");
  const CUnicodeString end = GetProperty(session, L"END_RANGE_PORT");
  for (const CUnicodeString* bound : {&begin, &end}) {
    if (!bound->IsEmpty()) continue;
    ShowWarning(session, L"MT_PortIsEmpty", *bound);
    return std::nullopt;
  }
  uint32_t numbers[2] = {};
  for (int k = 0; k < 2; ++k) {
    const CUnicodeString& bound = k == 0 ? begin : end;
    const std::optional<uint32_t> number = StrictUnsignedPort(bound);
    if (!number || *number < 1 || *number > kMaxPort) {
      ShowWarning(session, L"MT_PortInvalidValue", bound);
      return std::nullopt;
    }
    numbers[k] = *number;
  }
  if (numbers[1] <= numbers[0]) {
    ShowPropertyMessage(CMessageContext(session), L"MT_BadPortRange", L"", kInformationStyle);
    return std::nullopt;
  }
  return std::pair{numbers[0], numbers[1]};
}

UINT CheckPortRangeBody(MSIHANDLE session) {
  LogActionName(L"CheckPortRange");
  bool enabled = false;
  if (const auto range = ReadPortRange(session)) {
    const auto [begin, end] = *range;
    enabled = end - begin <= kQuietRangeSpan ||
              (Request(session) == ERROR_SUCCESS && GetProperty(session, L"REQUEST_RETURN") == L"1");
    if (enabled) {
      const bool forced = GetBoolProperty(session, L"IS_CPTO_FORCEDLY");
      const CPortRows rows = ReadPortRows(session);
      CProblemList problems;
      for (size_t i = 0; i < rows.Count(); ++i) {
        CustomActionLog() << L"Port : " << rows.properties[i] << L"\r\n\r\n";
        const CUnicodeString value = GetProperty(session, rows.properties[i]);
        const std::optional<uint32_t> port = StrictUnsignedPort(value);
        // The range's first port is outside it: begin < port <= end.
        if (port && *port > begin && *port <= end && (forced || ComponentWillBeLocal(session, rows.components[i])))
          problems.Add(value, L"MT_PortIsDubl");
      }
      enabled = problems.IsEmpty();
      if (!enabled) problems.Show(session);
    }
  }
  SetProperty(session, L"IsPortRangeEnabled", YesOrEmpty(enabled));
  return ERROR_SUCCESS;
}

// The log lines of a firewall query; the failure lines end the query.
void LogFirewallQuery(const COpenPortState& state, uint32_t port, bool& firewallOn) {
  const CUnicodeString code = L"0x" + CUnicodeString::FromHex(static_cast<uint32_t>(state.failure));
  CCustomActionLog& log = CustomActionLog();
  if (state.failedStep) {
    switch (*state.failedStep) {
      case FirewallStep::InitializeCom:
        log << L"Failed to initialize COM\r\n";
        return;
      case FirewallStep::CreateManager:
        log << L"Failed to create Windows firewall manager. ExitCode = " << code << L"\r\n";
        break;
      case FirewallStep::LocalPolicy:
        log << L"Failed to get firewall local policy. ExitCode = " << code << L"\r\n";
        break;
      case FirewallStep::CurrentProfile:
        log << L"Failed to get firewall local policy profile. ExitCode = " << code << L"\r\n";
        break;
      case FirewallStep::FirewallEnabled:
        log << L"get_FirewallEnabled failed\r\n";
        return;
      case FirewallStep::GloballyOpenPorts:
        log << L"get_GloballyOpenPorts failed\r\n";
        return;
      case FirewallStep::PortEnabled:
        log << L"get_Enabled failed\r\n";
        return;
      default:  // the steps of changing calls; a query never stops at them
        return;
    }
    if (state.failure == kFirewallServiceNotRunning) {
      firewallOn = false;
      log << L"Windows Firewall, Internet Sharing Service (SharedAccess) is not running\r\n";
    }
    log << L"Failed to get current firewall profile\r\n";
    return;
  }
  if (!state.firewallEnabled) {
    firewallOn = false;
  } else if (!state.portListed) {
    log << L"Port is not open in the firewall - " << port << L"\r\n";
  } else if (state.portEnabled) {
    log << L"Port is open in the firewall. portNumber -  " << port << L"\r\n";
  } else {
    log << L"Port is not open in the firewall. portNumber - " << port << L"\r\n";
  }
  log << L"IsPortEnabledInWindowsFirewall-End\r\n";
}

UINT IsPortEnabledInFirewallBody(MSIHANDLE session) {
  LogActionName(L"IsPortEnabledInFirewall");
  const std::optional<uint32_t> port = StrictUnsignedPort(GetProperty(session, L"PortName"));
  if (!port) {
    CustomActionLog() << L"Cannot convert port number from string\r\n";
    return ERROR_INSTALL_FAILURE;
  }
  const COpenPortState state = Firewall().QueryGloballyOpenPort(*port);
  bool firewallOn = true;
  LogFirewallQuery(state, *port, firewallOn);
  if (firewallOn) SetProperty(session, L"IsFirewallOn", L"Yes");
  if (state.failedStep)
    CustomActionLog() << L"IsPortEnabledInWindowsFirewall - failed\r\n";
  else
    SetProperty(session, L"IsPortEnabled", YesOrEmpty(state.portListed && state.portEnabled));
  return ERROR_SUCCESS;
}

// Winsock for the duration of one bind test.
class CWinsock {
 public:
  CWinsock() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
      Vrn::Raise<Vrn::CCheckException>(L"ERR_WSA_STARTUP_FAILED", L"Windows Sockets cannot be started.");
  }
  ~CWinsock() { ::WSACleanup(); }
  CWinsock(const CWinsock&) = delete;
  CWinsock& operator=(const CWinsock&) = delete;
};

class CSocket {
 public:
  explicit CSocket(SOCKET socket) : m_socket(socket) {}
  ~CSocket() {
    if (m_socket != INVALID_SOCKET) ::closesocket(m_socket);
  }
  CSocket(const CSocket&) = delete;
  CSocket& operator=(const CSocket&) = delete;
  SOCKET Get() const noexcept { return m_socket; }

 private:
  SOCKET m_socket;
};

}  // namespace

bool IsPortFree(uint16_t port) {
  const CWinsock winsock;
  const CSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (socket.Get() == INVALID_SOCKET)
    Vrn::Raise<Vrn::CCheckException>(L"ERR_CANNOT_CREATE_SOCKET", L"A network socket cannot be created.");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
  const int code = ::WSAGetLastError();
  if (code == WSAEADDRINUSE || code == WSAEACCES) return false;
  Vrn::Raise<Vrn::CCheckException>(L"ERR_OTHER_SOCKET_BIND_ERROR", L"The port cannot be tested (socket error %0).",
                                   std::initializer_list<CUnicodeString>{CUnicodeString::FromInt(code)});
}

std::optional<uint32_t> StrictUnsignedPort(const CUnicodeString& text) {
  const std::optional<int64_t> number = Vrn::StrictInteger<int64_t>(text);
  constexpr int64_t kLimit = 0xFFFFFFFFLL;
  if (!number || *number > kLimit || *number < -kLimit) return std::nullopt;
  return static_cast<uint32_t>(*number);  // a negative number wraps, as strtoul does
}

}  // namespace Msi

ORV_ACTION(CheckPortIsEnable, Msi::CheckPortIsEnableBody, .reads = L"PORTNAME IS_IIS",
           .shows = L"MT_Port80andNotIIS MT_PortInvalidValue MT_CannotOpenPort")
ORV_ACTION(CheckPortByTable, Msi::CheckPortByTableBody, .reads = L"IS_IIS SELECT_PORT", .shows = L"MT_PortIsBad",
           .tables = L"OV_Port", .readsIndirect = true, .costing = true)
ORV_ACTION(NormalizePortByTable, Msi::NormalizePortByTableBody, .tables = L"OV_Port", .readsIndirect = true,
           .costing = true)
ORV_ACTION(
    CheckPortByTableOnly, Msi::CheckPortByTableOnlyBody, .reads = L"IS_IIS IS_CPTO_FORCEDLY",
    .shows =
        L"MT_PortTableCaption MT_PortIsEmpty MT_PortIsDubl MT_Port80andNotIIS MT_PortInvalidValue MT_CannotOpenPort",
    .tables = L"OV_Port", .readsIndirect = true, .costing = true)
ORV_ACTION(CheckSiteByTable, Msi::CheckSiteByTableBody, .reads = L"IS_IIS", .shows = L"MT_SiteAlreadyExist",
           .tables = L"OV_Port", .costing = true)
ORV_ACTION(CheckPortRange, Msi::CheckPortRangeBody,
           .reads =
               L"BEGIN_RANGE_PORT END_RANGE_PORT IS_CPTO_FORCEDLY REQUEST_RETURN REQUEST_PROPERTY_NAME REQUEST_ICON "
               L"REQUEST_FLAG",
           .shows = L"MT_PortIsEmpty MT_PortInvalidValue MT_BadPortRange MT_PortIsDubl MT_PortTableCaption",
           .tables = L"OV_Port", .readsIndirect = true, .costing = true)
ORV_ACTION(IsPortEnabledInFirewall, Msi::IsPortEnabledInFirewallBody, .reads = L"PortName")
