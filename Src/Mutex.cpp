// The mutex existence test and the process-wide installer mutex.
#include "Mutex.h"

#include <mutex>

#include "CustomActionLog.h"
#include "Errors.h"
#include "Handle.h"
#include "Setup.h"
#include "TextLimits.h"

namespace Msi {

namespace {

// What the process keeps between CreateInstallerMutex and ReleaseInstallerMutex; the installer
// may call actions from several threads, so every access takes the lock.
struct CInstallerMutexState {
  std::mutex lock;
  Vrn::CKernelHandle mutex;
  DWORD creationError = 0;
  Vrn::CModuleHandle pinnedLibrary;
};

CInstallerMutexState& State() {
  static CInstallerMutexState state;
  return state;
}

}  // namespace

bool MutexExists(const CUnicodeString& name) {
  CustomActionLog() << L"MutexIsExist = " + name + L"\r\n";  // one append: no other line inside it
  const Vrn::CKernelHandle mutex(::OpenMutexW(READ_CONTROL, FALSE, Vrn::Checked(name, Vrn::kObjectNameLimit)));
  return mutex.IsValid();
}

DWORD AcquireInstallerMutex(const CUnicodeString& name) {
  SECURITY_DESCRIPTOR descriptor;
  Vrn::CheckLastError(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  // A present but null access list: anybody may open the mutex.
  Vrn::CheckLastError(::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};

  CInstallerMutexState& state = State();
  std::lock_guard guard(state.lock);
  Vrn::Check(!state.mutex.IsValid());
  Vrn::CKernelHandle mutex(::CreateMutexW(&attributes, FALSE, Vrn::Checked(name, Vrn::kObjectNameLimit)));
  const DWORD error = ::GetLastError();
  Vrn::CheckLastError(mutex.IsValid());
  state.mutex = std::move(mutex);
  state.creationError = error;
  return error;
}

bool HoldsInstallerMutex() {
  CInstallerMutexState& state = State();
  std::lock_guard guard(state.lock);
  return state.mutex.IsValid();
}

void PinLibrary(const CUnicodeString& libraryPath) {
  Vrn::CModuleHandle module(::LoadLibraryW(libraryPath.c_str()));
  const DWORD error = ::GetLastError();
  CustomActionLog() << L"CreateInstallerMutex LoadLibrary:" +
                           CUnicodeString::FromHex(reinterpret_cast<uintptr_t>(module.Get())) + L"\r\n";
  if (!module) {
    CustomActionLog() << L"CreateInstallerMutex LoadLibrary Error:" + CUnicodeString::FromUInt(error) + L"\r\n";
    return;
  }
  CInstallerMutexState& state = State();
  std::lock_guard guard(state.lock);
  state.pinnedLibrary = std::move(module);  // a reference pinned before is released, so they never pile up
}

void ReleaseInstallerMutex() {
  CInstallerMutexState& state = State();
  std::lock_guard guard(state.lock);
  if (state.mutex) {
    CustomActionLog() << L"CloseInstallerMutex : GlobalMutex\r\n";
    state.mutex.Reset();
    state.creationError = 0;
  }
  if (state.pinnedLibrary) {
    CustomActionLog() << L"CloseInstallerMutex : FreeLibrary\r\n";
    state.pinnedLibrary.Reset();
  }
}

CUnicodeString LibraryFilePath() {
  CUnicodeString path;
  for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
    const DWORD length = ::GetModuleFileNameW(Vrn::LibraryModule(), path.GetBuffer(size), size);
    if (length < size) {
      path.ReleaseBuffer(length);
      return path;
    }
  }
  path.ReleaseBuffer(0);
  return path;
}

}  // namespace Msi
