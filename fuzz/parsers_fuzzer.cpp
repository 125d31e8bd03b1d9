// One libFuzzer target over everything the stub decides from bytes that others wrote
// (tests/core/decide.h), seeded from the core tables; the sanitizers watch every access.
#include <cstdint>

#include "decide.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  if (quillmere::Decide(input).starts_with(quillmere::kBrokenRule)) __builtin_trap();
  return 0;
}
