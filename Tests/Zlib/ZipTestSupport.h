// Helpers of the zip reader tests: raised errors, extracted trees, the corpus and its manifests
// (exceptions are caught with Vrn::Caught).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "CoreFixtures.h"
#include "Errors.h"
#include "UnicodeString.h"
#include "ZipArchive.h"
#include "ZipArchiveException.h"

namespace ZipTest {

// The code of a CZipArchiveException, -1 for anything else; the message name ("none" for null).
int ZipCode(const Vrn::CExceptionPtr& e);
std::wstring ErrorName(const Vrn::CExceptionPtr& e);
// Files below root as "a/b.txt" and folders as "a/", sorted.
std::vector<std::wstring> ListTree(const Vrn::CUnicodeString& root);
// The same names, each with its bytes (empty for a folder).
std::map<std::wstring, std::string> ReadTree(const Vrn::CUnicodeString& root);

Vrn::CUnicodeString CorpusPath(const Vrn::CUnicodeString& name);  // Tests\Data\zip\<name>
std::string CorpusBytes(const Vrn::CUnicodeString& name);
// The lines of Tests\Data\zip\<name>, split at tabs.
std::vector<std::vector<std::string>> ReadTable(const Vrn::CUnicodeString& name);
// Checks that folder holds exactly what <archive>.manifest lists.
void ExpectManifest(const Vrn::CUnicodeString& archive, const Vrn::CUnicodeString& folder);

void OpenImage(Zlib::CZipArchive& archive, const std::string& bytes, unsigned codePage = 437);

}  // namespace ZipTest
