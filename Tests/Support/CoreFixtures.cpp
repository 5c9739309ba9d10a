// Core-library test fixtures.
#include "CoreFixtures.h"

#include <stdexcept>

#include "Messages.h"
#include "TestSupport.h"

namespace TestSupport {

namespace {
template <class Recorder>
int Record(Recorder& recorder, const Vrn::CUnicodeString& text, const Vrn::CUnicodeString& caption, UINT style) {
  recorder.shown.push_back({text, caption, style});
  if (recorder.answers.empty()) return Vrn::DefaultButtonAnswer(style);
  const int answer = recorder.answers.front();
  recorder.answers.erase(recorder.answers.begin());
  return answer;
}
}  // namespace

int CRecordingHandler::ShowMessage(HWND, const Vrn::CUnicodeString& text, const Vrn::CUnicodeString& caption,
                                   UINT style) {
  return Record(*this, text, caption, style);
}

int CScriptedUserInterface::ShowBox(HWND, const wchar_t* text, const wchar_t* caption, UINT style) {
  if (onBox) onBox(shown.size());
  return Record(*this, text, caption, style);
}

BOOL CScriptedUserInterface::BringToForeground(HWND window) {
  foreground.push_back(window);
  return TRUE;
}

HMODULE LibraryModuleForTests() {
  static HMODULE module = LoadLibraryW(LibraryPath().c_str());
  if (!module) throw std::runtime_error("cannot load " + LibraryPath().ToUtf8());
  return module;
}

CStartedLibrary::CStartedLibrary() {
  if (!Vrn::Start()) throw std::runtime_error("library did not start");
  Vrn::RegisterMessageModule(LibraryModuleForTests());
}

CStartedLibrary::~CStartedLibrary() { Vrn::Stop(); }

}  // namespace TestSupport
