// The settings reader must always choose one of the two instances, and the one
// that the first line beginning with "server=" names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "require.h"
#include "settings/settings_format.h"

using namespace quillmere;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::wstring_view name = InstanceNameFromSettings(bytes);
  Require(name == L"live" || name == L"dev", "the instance is live or dev");

  // Trimming only touches line ends, so the server line is found by its start alone.
  std::string text = "\n" + std::string(bytes);
  std::size_t start = text.find("\nserver=");
  bool dev = false;
  if (start != std::string::npos) {
    std::string_view value(text);
    value = value.substr(start + 8, text.find('\n', start + 1) - start - 8);
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.remove_suffix(1);
    dev = value == "dev";
  }
  Require((name == L"dev") == dev, "dev exactly when the first server line says dev");
  return 0;
}
