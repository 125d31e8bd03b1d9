#include "update/self_replace_rules.h"

#include "base/path.h"

namespace quillmere {

bool IsStubLeftover(std::wstring_view stubName, std::wstring_view fileName) {
  std::wstring name = LowerCaseName(fileName);
  std::wstring stub = LowerCaseName(stubName) + L".";
  if (!name.starts_with(stub)) return false;
  std::wstring_view rest = std::wstring_view(name).substr(stub.size());
  if (rest == L"old" || rest == L"new") return true;
  if (!rest.ends_with(L".old") && !rest.ends_with(L".new")) return false;
  rest.remove_suffix(4);
  return rest.size() <= 8 && IsHexName(rest);
}

Path SpareNewStubPathOf(const Path& stub, std::uint32_t processId) {
  std::wstring digits = HexName(processId);
  return stub + L"." + std::wstring(8 - digits.size(), L'0') + digits + L".new";
}

}  // namespace quillmere
