// Named mutexes of the application-closing actions: the existence test by name, and the installer's
// own mutex, held process-wide together with an extra reference to this library so that the
// custom-action server cannot unload the library while the mutex is held.
#pragma once

#include "UnicodeString.h"
#include "VrnWindows.h"

namespace Msi {

using Vrn::CUnicodeString;

// True when a mutex of that name exists and can be opened for READ_CONTROL (the handle is closed at
// once). Logs "MutexIsExist = <name>". Never raises.
bool MutexExists(const CUnicodeString& name);

// Creates the installer's mutex (not owned, with a null access list so that processes of every user
// can open it) and keeps it process-wide. Returns the error code the system reported with the
// creation (ERROR_ALREADY_EXISTS when another process made it first). A mutex already held by this
// process, or a failed creation, is an internal error; the held state is then unchanged.
DWORD AcquireInstallerMutex(const CUnicodeString& name);
// True while this process holds the installer's mutex.
bool HoldsInstallerMutex();
// Loads the library at `libraryPath` once more and keeps that reference until
// ReleaseInstallerMutex. Logs the module handle; a failure is only logged.
void PinLibrary(const CUnicodeString& libraryPath);
// Closes the installer's mutex and drops the extra library reference, logging each step that
// had something to release. Never raises.
void ReleaseInstallerMutex();

// The full path of the module that holds this library (empty when it cannot be read).
CUnicodeString LibraryFilePath();

}  // namespace Msi
