// The message-module exports through which the core library's message system finds this module's
// string table.
#include "Messages.h"
#include "VrnWindows.h"

extern "C" {

// Marks this module as a user of the core library.
int __VornikUsed = 1;

UINT __stdcall GetResourceID(const wchar_t* name) { return Vrn::LibraryMessageId(name); }

UINT __stdcall NumberOfMessages() { return Vrn::kLibraryMessageCount; }

const wchar_t* __stdcall GetMessageName(UINT index) { return Vrn::LibraryMessageName(index); }

UINT __stdcall GetMessageSystemVersion() { return Vrn::kMessageSystemVersion; }
}
