// The message table exports, module registration, lookup and parameter substitution.

#include "CoreFixtures.h"
#include "Messages.h"
#include "TestSupport.h"

using namespace Vrn;

TEST(MessageModuleExports, AnswerFromTheSortedTable) {
  HMODULE dll = TestSupport::LibraryModuleForTests();
  auto getResourceId = ProcAddress<UINT(__stdcall*)(const wchar_t*)>(dll, "GetResourceID");
  auto numberOfMessages = ProcAddress<UINT(__stdcall*)()>(dll, "NumberOfMessages");
  auto getMessageName = ProcAddress<const wchar_t*(__stdcall*)(UINT)>(dll, "GetMessageName");
  auto version = ProcAddress<UINT(__stdcall*)()>(dll, "GetMessageSystemVersion");
  ASSERT_TRUE(getResourceId && numberOfMessages && getMessageName && version);
  EXPECT_EQ(version(), 200u);
  EXPECT_EQ(getResourceId(L"ERR_FILE_NOT_FOUND"), 4118u);
  EXPECT_EQ(getResourceId(L"err_file_not_found"), 0u);
  EXPECT_EQ(getResourceId(L"NO_SUCH_MESSAGE"), 0u);

  // Every name finds its own id, and the string table holds the text under that id.
  const UINT count = numberOfMessages();
  EXPECT_EQ(getMessageName(count), nullptr);
  for (UINT index = 0; index < count; ++index) {
    const wchar_t* name = getMessageName(index);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(getResourceId(name), 4096 + index) << CUnicodeString(name).ToUtf8();
    const wchar_t* text = nullptr;
    const int length = LoadStringW(dll, 4096 + index, reinterpret_cast<wchar_t*>(&text), 0);
    EXPECT_EQ(std::wstring_view(text, length), LibraryMessageText(name)) << CUnicodeString(name).ToUtf8();
  }
  EXPECT_EQ(LibraryMessageText(L"CURRENT_LANGUAGE_NAME"), L"English (English)\x200E");
}

TEST(MessageParameters, SubstitutionRules) {
  const CUnicodeString params[] = {L"zero", L"one", L"two", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"ten"};
  const std::span<const CUnicodeString> three(params, 3);
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"%2%1%0", L"twoonezero"}, {L"%5 is gone", L" is gone"},        {L"ends with %", L"ends with %"},
      {L"%%0", L"%zero"},         {L"%99999999999999999999 x", L" x"},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(SubstituteParams(text, three), expected) << CUnicodeString(text).ToUtf8();
  EXPECT_EQ(SubstituteParams(L"%10/%1", params), L"ten/one");
}

TEST(MessageLookup, ModulesAnswerOnlyOnceStartedAndOnlyWithTheExports) {
  // Before the start the caller's fallback is used even for a known name.
  EXPECT_EQ(LookupMessage(L"ERR_FILE_NOT_FOUND", L"fallback %0"), L"fallback %0");
  TestSupport::CStartedLibrary library;
  EXPECT_EQ(LookupMessage(L"ERR_FILE_NOT_FOUND", L"fallback %0"), L"%0 was not found.");
  EXPECT_EQ(LookupMessage(L"ERR_UNKNOWN_TO_ALL", L"fallback"), L"fallback");
  // Without a fallback the text still names the message.
  EXPECT_NE(LookupMessage(L"ERR_UNKNOWN_TO_ALL").Find(L"ERR_UNKNOWN_TO_ALL"), CUnicodeString::npos);

  const size_t before = MessageModuleCount();
  RegisterMessageModule(TestSupport::LibraryModuleForTests());
  EXPECT_EQ(MessageModuleCount(), before);
  // A module without the exports is listed but never answers.
  RegisterMessageModule(GetModuleHandleW(L"kernel32.dll"));
  EXPECT_EQ(LookupMessage(L"ERR_FILE_BAD_SEEK", L"x"), L"Seek failed on %0.");
}

TEST(MessageLookup, ParameterCountCheckReportsMismatches) {
  TestSupport::CMachineIsolation isolation;
  TestSupport::SetRegistryText(HKEY_CURRENT_USER, kLibrarySettingsKey, L"CheckMessagesParamsCount", L"yes");

  TestSupport::CStartedLibrary library;
  TestSupport::CRecordingHandler handler;
  TestSupport::CHandlerScope scope(handler);
  FormatMessageText(L"GOOD", L"%0 %1", {L"a", L"b"});
  EXPECT_TRUE(handler.shown.empty());
  EXPECT_EQ(FormatMessageText(L"MY_MESSAGE", L"%0 and %2", {L"a"}), L"a and ");
  ASSERT_EQ(handler.shown.size(), 2u);
  EXPECT_EQ(handler.shown[0].text, L"Number of params in message \"MY_MESSAGE\" is invalid: 2, expected 1.");
  EXPECT_EQ(handler.shown[0].style, 0x31u);
  EXPECT_EQ(handler.shown[1].text, L"Some parameters in message \"MY_MESSAGE\" are missing: 1.");
}
