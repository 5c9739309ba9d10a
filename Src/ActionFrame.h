// The frame every exported action runs in: library start and stop, the log handler, the message
// module, the owning catch of core-library exceptions (result 1603, counted in the registry) and a
// final catch-all, so that no exception ever reaches the installer.
#pragma once

#include "ActionCatalog.h"
#include "VrnWindows.h"
// msi.h after windows.h
#include <msi.h>

namespace Msi {

using ActionBody = UINT (*)(MSIHANDLE session);

// Runs the body inside the frame and returns its result (1603 when it raised).
UINT RunAction(MSIHANDLE session, ActionBody body);

// The registry key holding "InstallationCount" under HKEY_LOCAL_MACHINE (64-bit view).
inline constexpr wchar_t kMutexCounterKey[] = L"SOFTWARE\\Orvant\\Setup\\MutexCounter";

// Adds one to "InstallationCount" under keyPath; failures are logged, never raised. True when done.
bool IncrementInstallationCounter(const wchar_t* keyPath = kMutexCounterKey);
// For actions whose own 1603 counts as a failure: increments the counter when result is 1603.
UINT CountFailure(UINT result);

}  // namespace Msi

// Defines an exported action: extern "C" UINT __stdcall Name(MSIHANDLE) running Body in the frame,
// and its entry in the action catalog. The arguments after Body initialise what the action needs from
// its package (Msi::CActionNeeds: .reads, .shows, .tables, .readsIndirect, .costing).
#define ORV_ACTION(Name, Body, ...)                                                             \
  extern "C" UINT __stdcall Name(MSIHANDLE session) { return ::Msi::RunAction(session, Body); } \
  static const ::Msi::CActionRegistration Name##ActionRegistration(ORV_WIDE_NAME(Name),         \
                                                                   ::Msi::CActionNeeds{__VA_ARGS__});
#define ORV_WIDE_NAME(Name) L## #Name
