// Catching the library's exceptions (thrown by pointer) in tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "Errors.h"

namespace TestSupport {

// Runs body and returns the exception of type E it raised, owned; records a test failure and
// returns null when it raised nothing or something else.
template <class E, class Body>
std::unique_ptr<E> CatchRaised(Body&& body) {
  try {
    body();
  } catch (Vrn::CException* raw) {
    Vrn::CExceptionPtr owned(raw);
    if (auto* wanted = dynamic_cast<E*>(raw)) {
      owned.release();
      return std::unique_ptr<E>(wanted);
    }
    ADD_FAILURE() << "another exception was raised: " << raw->MessageText().ToUtf8();
    return nullptr;
  }
  ADD_FAILURE() << "nothing was raised";
  return nullptr;
}

}  // namespace TestSupport
