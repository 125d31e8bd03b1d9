// The text that names things of one process: its copies in progress, its events.
#pragma once

#include <cstdint>
#include <string>

namespace quillmere {

// `id` in lowercase hex without leading zeros. (std::to_wstring would bring 23 KB of
// formatting code into the stub.)
inline std::wstring ProcessNumber(std::uint32_t id) {
  std::wstring number;
  for (; number.empty() || id != 0; id >>= 4) {
    number.insert(0, 1, L"0123456789abcdef"[id & 15]);
  }
  return number;
}

}  // namespace quillmere
