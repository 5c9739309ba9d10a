// Helpers of the zip reader tests: capture of the library's exceptions, listings of extracted
// trees, the corpus manifests, and a deflate bomb built in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Errors.h"
#include "UnicodeString.h"
#include "ZipArchive.h"
#include "ZipArchiveException.h"

namespace ZipTest {

// Runs f; returns the core-library exception it raised (owned) or null.
Vrn::CExceptionPtr Capture(const std::function<void()>& f);
// The reason code of a captured CZipArchiveException, -1 for anything else.
int ZipCode(const Vrn::CExceptionPtr& e);
// The message name of a captured exception ("none" for null).
std::wstring ErrorName(const Vrn::CExceptionPtr& e);

// Files below root as "a/b.txt" and folders as "a/", sorted.
std::vector<std::wstring> ListTree(const Vrn::CUnicodeString& root);

// Tests\Data\zip\<name>, and its bytes.
Vrn::CUnicodeString CorpusPath(const Vrn::CUnicodeString& name);
std::string CorpusBytes(const Vrn::CUnicodeString& name);
// The lines of Tests\Data\zip\<name>, split at tabs.
std::vector<std::vector<std::string>> ReadTable(const Vrn::CUnicodeString& name);
// The file contents make_corpus.py generates from (size, seed).
std::string Content(size_t size, uint32_t seed);
// Checks with gtest assertions that folder holds exactly what <archive>.manifest lists.
void ExpectManifest(const Vrn::CUnicodeString& archive, const Vrn::CUnicodeString& folder);

void OpenImage(Zlib::CZipArchive& archive, const std::string& bytes, unsigned codePage = 437);
// An archive of one deflated entry "bomb.bin" of size zero bytes, compressed in pieces.
std::string BombImage(uint64_t size);

}  // namespace ZipTest
