// The DLL entry point: records this module as the library's static module.
#include "Setup.h"
#include "VrnWindows.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    Vrn::RecordLibraryModule(instance);
  }
  return TRUE;
}
