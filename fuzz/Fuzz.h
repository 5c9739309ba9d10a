// The mutation fuzzer of `make fuzz`: a target is a parser with its starting inputs, the tokens its
// mutations insert and the check of one input; the driver (Main.cpp) mutates, checks, times and
// saves the inputs that fail.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "Errors.h"
#include "UnicodeString.h"

namespace Fuzz {

struct CTarget {
  // "xml", "zip": also the corpus folder under Tests\Data and the file extension.
  const wchar_t* name;
  // Well-formed and hostile inputs the mutants start from.
  std::vector<std::string> bases;
  // Fragments the mutations insert (syntax, signatures, boundary values).
  std::vector<std::string_view> tokens;
  // Its part of the time budget.
  double share;
  // Workers: the zip reader mostly waits for the file system (each call a round trip to the Wine
  // server), so several keep it busy; the XML parser gains nothing from a second.
  size_t threads;
  // Checks one input: an empty string when it kept every invariant, else what broke.
  std::string (*check)(const std::string& input);
};

CTarget XmlTarget();
CTarget ZipTarget();

// The files of Tests\Data\<target> named *.<target> and at most maxBytes long, in name order; the
// inputs fuzzing saved there (fuzz-*) are left out, so that a seed gives the same mutants again.
std::vector<std::string> ReadCorpus(const wchar_t* target, uint64_t maxBytes = UINT64_MAX);
// The folder the targets may write into (--sandbox, else a new temporary folder); the caller of the
// program removes it.
const Vrn::CUnicodeString& SandboxFolder();

// Runs f. A core-library exception other than an internal error is a clean refusal: true. An
// internal error or any other exception is a broken invariant, described in `broken`.
template <class F>
bool Refused(F&& f, std::string& broken) {
  try {
    f();
    return false;
  } catch (Vrn::CException* raw) {
    const Vrn::CExceptionPtr e(raw);
    if (dynamic_cast<const Vrn::CInternalError*>(raw)) broken = "internal error: " + e->MessageText().ToUtf8();
  } catch (const std::exception& e) {
    broken = std::string("C++ exception: ") + e.what();
  } catch (...) {
    broken = "unknown exception";
  }
  return true;
}

}  // namespace Fuzz
