#include "handover/messages.h"

namespace quillmere {

std::wstring MissingPartMessage(const Path& expected) {
  return L"Quillmere is missing part of its installation.\n\nExpected to find:\n" + expected +
         L"\n\nExtract the whole Quillmere folder from the download, keeping it intact.";
}

}  // namespace quillmere
