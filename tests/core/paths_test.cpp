#include <gtest/gtest.h>

#include <string>

#include "install/install_root_rules.h"
#include "install/install_root_rules.h"
#include "base/system_path.h"

using namespace quillmere;

namespace {

TEST(InstallRootOf, EverythingBeforeTheLastBackslash) {
  static constexpr struct {
    const wchar_t* executable;
    const wchar_t* root;
  } kCases[] = {
      {L"C:\\Games\\Quillmere\\Quillmere.exe", L"C:\\Games\\Quillmere"},
      {L"C:\\Quillmere.exe", L"C:"},
      {L"\\\\server\\share\\Quillmere.exe", L"\\\\server\\share"},
      {L"C:\\Games\\Q/other.exe", L"C:\\Games"},
      {L"Quillmere.exe", L""},
      {L"C:/Games/Quillmere.exe", L""},
      {L"", L""},
  };
  for (const auto& c : kCases) EXPECT_EQ(InstallRootOf(c.executable), c.root) << c.executable;
}

TEST(InstanceRootFor, EachInstanceHasItsFolderFromTheCurrentLayoutOn) {
  static constexpr struct {
    std::int32_t layout;
    const wchar_t* instance;
    const wchar_t* root;
    const wchar_t* contentBase;
  } kCases[] = {
      {2, L"live", L"D:\\Q\\live", L"D:\\Q\\live"},
      {2, L"dev", L"D:\\Q\\dev", L"D:\\Q\\dev"},
      {12, L"dev", L"D:\\Q\\dev", L"D:\\Q\\dev"},
      {1, L"live", L"D:\\Q", L"D:\\Q"},
      {1, L"dev", L"D:\\Q\\dev", L"D:\\Q"},
      {0, L"dev", L"D:\\Q\\dev", L"D:\\Q"},
      {INT32_MIN, L"live", L"D:\\Q", L"D:\\Q"},
  };
  for (const auto& c : kCases) {
    Path root = InstanceRootFor(L"D:\\Q", c.instance, c.layout);
    EXPECT_EQ(root, c.root) << c.layout << " " << c.instance;
    EXPECT_EQ(ContentBaseFor(L"D:\\Q", root, c.layout), c.contentBase) << c.layout << " " << c.instance;
  }
}

TEST(SystemPath, ExtendsOnlyPathsTooLongForTheClassicCalls) {
  const std::wstring deep(260, L'd');
  static const struct {
    std::wstring path;
    std::wstring passed;
  } kCases[] = {
      {L"C:\\short\\path", L"C:\\short\\path"},
      {L"C:\\" + std::wstring(244, L'x'), L"C:\\" + std::wstring(244, L'x')},
      {L"C:\\" + std::wstring(245, L'x'), L"\\\\?\\C:\\" + std::wstring(245, L'x')},
      {L"C:\\" + deep + L"/a", L"\\\\?\\C:\\" + deep + L"\\a"},
      {L"\\\\server\\share\\" + deep, L"\\\\?\\UNC\\server\\share\\" + deep},
      {L"\\\\?\\C:\\" + deep, L"\\\\?\\C:\\" + deep},
      {L"\\\\.\\C:\\" + deep, L"\\\\.\\C:\\" + deep},
      {L"relative\\" + deep, L"relative\\" + deep},
  };
  for (const auto& c : kCases) EXPECT_EQ(SystemPath(c.path), c.passed) << c.path.size();
}

}  // namespace
