// The export directory of a Windows module (a PE32 or PE32+ image) read from its bytes, without
// loading it. The bytes may be hostile (a stream taken from an installer package): every offset,
// size and count is checked against them before it is used.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Vrn {

struct CImageExports {
  // The module name the export directory records (the linker's LIBRARY name, "OrvantCA.dll").
  std::string moduleName;
  // The exported function names, in the directory's order (sorted by the linker).
  std::vector<std::string> names;
};

// The exports of the image, or nothing when the bytes are no PE image or have no export directory
// lying within them. Never raises.
std::optional<CImageExports> ReadImageExports(std::span<const unsigned char> image);

}  // namespace Vrn
