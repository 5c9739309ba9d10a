// The test child: every test program that links this file doubles as a scriptable child process.
// Started with "--orv-test-child" it does what its options say before main() runs, and exits; the
// launch tests use it instead of relying on the system's tools.
#pragma once

#include <string>

#include "UnicodeString.h"

namespace TestSupport {

// The command line that starts this program as the test child. Options, separated by blanks, are
// carried out in this order:
//   event=NAME      opens the named event and signals it
//   print=TEXT      writes TEXT to standard output; \n \r \v \f in TEXT stand for those characters
//                   and \xHH for the byte HH
//   out=N / err=N   writes N bytes of TestChildPattern to standard output / error
//   wait-mutex=NAME waits until the named mutex exists (at most a minute)
//   sleep=MS        sleeps
//   exit=N          ends with exit code N (unsigned 32-bit decimal; default 0)
//   exit=show       ends with the show mode it was given (9999 when none)
Vrn::CUnicodeString TestChildCommand(const Vrn::CUnicodeString& options);
// The first `count` bytes of the children's output pattern: 40-byte lines of letters and digits.
std::string TestChildPattern(size_t count);

}  // namespace TestSupport
