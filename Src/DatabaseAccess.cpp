// Reading the running package's tables through the installer's view and record functions.
#include "DatabaseAccess.h"

#include <objbase.h>

#include "CustomActionLog.h"
#include "Errors.h"

namespace Msi {

void InitializeComForThread() {
  const HRESULT result = CoInitialize(nullptr);
  // S_FALSE: already initialised here; RPC_E_CHANGED_MODE: already initialised in the other
  // threading model by whoever owns the thread. COM is usable either way.
  if (SUCCEEDED(result) || result == RPC_E_CHANGED_MODE) return;
  if (result == E_OUTOFMEMORY) Vrn::Raise<Vrn::CMemoryException>();
  Vrn::Raise<Vrn::CCOMException>(result);
}

void WithActiveDatabase(MSIHANDLE session, const std::function<void(MSIHANDLE database)>& reader) {
  InitializeComForThread();
  const CMsiHandle database(MsiGetActiveDatabase(session));
  Vrn::Check(database.IsValid());
  try {
    reader(database.Get());
  } catch (Vrn::CCOMException* raw) {
    const Vrn::CExceptionPtr failure(raw);
    CustomActionLog() << L"CCOMException:" << L"\r\n" << failure->MessageText() << L"\r\n";
  }
}

void ReadTableColumns(MSIHANDLE database, const wchar_t* query, std::span<const CFieldInto> fields,
                      const char* readerName) {
  CMsiHandle view;
  Vrn::Check(MsiDatabaseOpenViewW(database, query, view.Put()) == ERROR_SUCCESS);
  Vrn::Check(MsiViewExecute(view.Get(), 0) == ERROR_SUCCESS);
  if (readerName) CustomActionLog() << readerName << "\r\n\r\n";
  for (;;) {
    CMsiHandle record;
    const UINT answer = MsiViewFetch(view.Get(), record.Put());
    if (answer == ERROR_NO_MORE_ITEMS) break;
    Vrn::Check(answer == ERROR_SUCCESS);
    for (const CFieldInto& into : fields) into.list->push_back(GetRecordString(record.Get(), into.field));
  }
}

Vrn::CUnicodeString GetRecordString(MSIHANDLE record, UINT field) {
  Vrn::Check(field <= MsiRecordGetFieldCount(record));
  // The data size of an integer field is that of the number, not of its text, so a long number can
  // still answer "more data" once: then ask again with the length it reports.
  DWORD size = MsiRecordDataSize(record, field) + 1;
  Vrn::CUnicodeString text;
  UINT answer = MsiRecordGetStringW(record, field, text.GetBuffer(size), &size);
  if (answer == ERROR_MORE_DATA) {
    ++size;
    answer = MsiRecordGetStringW(record, field, text.GetBuffer(size), &size);
  }
  Vrn::Check(answer == ERROR_SUCCESS);
  text.ReleaseBuffer();  // up to the first zero: a null field reads as the empty text
  return text.Trim();
}

}  // namespace Msi
