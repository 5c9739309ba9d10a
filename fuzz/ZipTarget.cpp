// The zip reader under mutation: every input is opened from memory and extracted whole into a
// folder of the sandbox; it is refused with a core-library error or extracted, entry names are
// plain relative paths, and nothing is written beside the destination.
#include <atomic>
#include <memory>

#include "Files.h"
#include "Fuzz.h"
#include "ZipArchive.h"

namespace Fuzz {
namespace {

using namespace std::string_view_literals;

// Bases larger than this slow every mutant down without reaching code the small ones miss.
constexpr uint64_t kMaxBaseBytes = 8192;

// A name an opened archive offers must already be normalised: relative, "/" separated, no "."
// or ".." step, no stream or drive colon.
bool IsPlainEntryName(std::wstring_view name) {
  if (name.empty() || name.front() == L'/' || name.find_first_of(L"\\:") != name.npos) return false;
  for (size_t start = 0; start <= name.size();) {
    size_t end = name.find(L'/', start);
    if (end == name.npos) end = name.size();
    const std::wstring_view step = name.substr(start, end - start);
    if (step == L"." || step == L".." || (step.empty() && end != name.size())) return false;
    start = end + 1;
  }
  return true;
}

std::string CheckZip(const std::string& input) {
  std::string broken;
  Zlib::CZipArchive archive;
  if (Refused([&] { archive.Open(std::make_unique<Zlib::CMemoryFile>(L"fuzz.zip", input), 437); }, broken))
    return broken.empty() ? std::string() : "open: " + broken;
  for (const Zlib::CZipEntry& entry : archive.Entries())
    if (!IsPlainEntryName(entry.name.View())) return "open accepted the entry name " + entry.name.ToUtf8();
  // Each mutant has a folder of its own that must hold nothing but the destination afterwards.
  // Nothing is removed here (under Wine a removal costs several server round trips per file): the
  // caller removes the sandbox when the run is over. The folders are spread 256 to a parent, as Wine
  // reads a whole folder to look up a name that is not there yet.
  static std::atomic<uint64_t> sequence{0};
  const uint64_t number = sequence++;
  const Vrn::CUnicodeString folder =
      Vrn::JoinPath(Vrn::JoinPath(SandboxFolder(), Vrn::CUnicodeString::FromHex(number >> 8)),
                    Vrn::CUnicodeString::FromHex(number & 0xFF));
  const Vrn::CUnicodeString destination = Vrn::JoinPath(folder, L"d");
  Refused([&] { archive.Extract(L"", destination); }, broken);
  if (!broken.empty()) return "extract: " + broken;
  for (const Vrn::CDirectoryEntry& entry : Vrn::ListDirectory(folder, L"*", Vrn::ListAll))
    if (entry.name != L"d") return "extraction wrote beside the destination: " + entry.name.ToUtf8();
  return {};
}

}  // namespace

CTarget ZipTarget() {
  CTarget target{L"zip", ReadCorpus(L"zip", kMaxBaseBytes), {}, 0.85, 4, CheckZip};
  // Record signatures, the Zip64 and Unicode-path extra field tags, and boundary values of lengths,
  // counts and offsets (16 and 32 bits, little-endian).
  target.tokens = {"PK\x03\x04"sv,
                   "PK\x01\x02"sv,
                   "PK\x05\x06"sv,
                   "PK\x06\x06"sv,
                   "PK\x06\x07"sv,
                   "\x01\x00"sv,
                   "\x75\x70"sv,
                   "\0\0"sv,
                   "\xFF\xFF"sv,
                   "\xFF\x7F"sv,
                   "\0\0\0\0"sv,
                   "\xFF\xFF\xFF\xFF"sv,
                   "\xFE\xFF\xFF\xFF"sv,
                   "\0\0\0\x80"sv,
                   "\xFF\xFF\xFF\x7F"sv,
                   "../"sv,
                   "..\\"sv,
                   "C:"sv,
                   "//"sv,
                   "CON"sv};
  return target;
}

}  // namespace Fuzz
