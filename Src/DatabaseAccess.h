// Reading the running package's tables: the active database of a session, one SELECT query at a
// time, every selected cell as trimmed text appended to parallel column lists (row i of the table is
// element i of every list).
//
// A family declares each query beside its 1-based columns, so that a column number can only be used
// with the query it belongs to:
//
//   enum class PortColumn : UINT { Number = 1, Site = 2 };
//   constexpr Msi::CTableQuery<PortColumn> kPortQuery{L"SELECT PortNumber, SiteName FROM OV_Port"};
//   Msi::CColumnList numbers, sites;
//   Msi::ReadTableColumns(database, kPortQuery, {{PortColumn::Number, numbers}, {PortColumn::Site, sites}});
#pragma once

#include <functional>
#include <initializer_list>
#include <span>
#include <vector>

#include "MsiHandle.h"
#include "UnicodeString.h"

namespace Msi {

using CColumnList = std::vector<Vrn::CUnicodeString>;

// A SELECT query whose selected columns are numbered by the enumeration Column (1 = first selected).
template <class Column>
struct CTableQuery {
  const wchar_t* text;
};

// One selected column and the list its cells are appended to.
template <class Column>
struct CColumnInto {
  Column column;
  CColumnList& list;
};

// The untyped form: a field number of the query's records and its list.
struct CFieldInto {
  UINT field;
  CColumnList* list;
};

// Initialises COM on the calling thread (apartment model). "Already initialised" counts as success;
// out of memory raises Vrn::CMemoryException, any other failure Vrn::CCOMException. Never undone.
void InitializeComForThread();

// Initialises COM, opens the session's active database and runs the reader on it. A
// Vrn::CCOMException raised by the reader is logged under "CCOMException:" and swallowed (the lists
// keep what was read so far); every other core-library exception passes on. A session without a
// database is an internal error. The database handle is closed on every path.
void WithActiveDatabase(MSIHANDLE session, const std::function<void(MSIHANDLE database)>& reader);

// Runs the query and appends the fields of every row, in row order, to their lists. With a reader
// name, "<name>\r\n\r\n" is logged once the view is executed. A view that cannot be opened (also a
// table the package does not have), executed or fetched from, and a field beyond the row, are
// internal errors; rows read before the failure stay appended.
void ReadTableColumns(MSIHANDLE database, const wchar_t* query, std::span<const CFieldInto> fields,
                      const char* readerName = nullptr);

template <class Column>
void ReadTableColumns(MSIHANDLE database, const CTableQuery<Column>& query,
                      std::initializer_list<CColumnInto<Column>> columns, const char* readerName = nullptr) {
  std::vector<CFieldInto> fields;
  fields.reserve(columns.size());
  for (const CColumnInto<Column>& into : columns) fields.push_back({static_cast<UINT>(into.column), &into.list});
  ReadTableColumns(database, query.text, fields, readerName);
}

// One field of a record as text with white space stripped at both ends; an empty or null field is
// the empty text. A field number beyond the record, or a failed read, is an internal error.
Vrn::CUnicodeString GetRecordString(MSIHANDLE record, UINT field);

}  // namespace Msi
