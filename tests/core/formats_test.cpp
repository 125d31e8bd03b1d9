#include <gtest/gtest.h>

#include <string>

#include "install/layout_format.h"
#include "settings/settings_format.h"
#include "update/stub_image.h"

using namespace quillmere;

namespace {

using namespace std::string_literals;

TEST(InstanceNameFromSettings, OnlyTheFirstServerLineWithValueDevChoosesDev) {
  static const struct {
    std::string file;
    const wchar_t* name;
  } kCases[] = {
      {"", L"live"},
      {"server=dev", L"dev"},
      {"server=dev\n", L"dev"},
      {"server=dev\r\n", L"dev"},
      {"server=dev \r \r\n", L"dev"},
      {"server=dev\r", L"dev"},
      {"server=dev\t", L"live"},
      {"server=live", L"live"},
      {"server=", L"live"},
      {"server=Dev", L"live"},
      {"server=DEV", L"live"},
      {"server= dev", L"live"},
      {"server=devx", L"live"},
      {"server=dev2", L"live"},
      {"Server=dev", L"live"},
      {"SERVER=dev", L"live"},
      {"server =dev", L"live"},
      {" server=dev", L"live"},
      {"\tserver=dev", L"live"},
      {"server= dev\nserver=dev\n", L"live"},
      {"server=live\nserver=dev\n", L"live"},
      {"\xEF\xBB\xBFserver=dev\n", L"live"},
      {"\xEF\xBB\xBFserver=dev\nserver=dev\n", L"dev"},
      {"volume=3\n\n  \nname=x\nserver=dev\n", L"dev"},
      {"s\0e\0r\0v\0e\0r\0=\0d\0e\0v\0"s, L"live"},
      {"\xFF\xFEs\0e\0r\0v\0e\0r\0=\0d\0e\0v\0"s, L"live"},
      {"server=dev\rname=x\n", L"live"},
      {"name=x\rserver=dev\n", L"live"},
      {"server=dev\0"s, L"live"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(InstanceNameFromSettings(c.file), c.name) << testing::PrintToString(c.file);
  }
}

TEST(LayoutVersionFromText, FirstNumberAfterWhiteSpaceElseOne) {
  static const struct {
    std::string text;
    std::int32_t version;
  } kCases[] = {
      {"", 1},
      {"2\n", 2},
      {"  2\r\n", 2},
      {"\t\n\r 12", 12},
      {"2abc", 2},
      {"2 3", 2},
      {"x2", 1},
      {"-2", 1},
      {"+2", 1},
      {"\v2", 1},
      {"\f2", 1},
      {"\0"s "2", 1},
      {"\xEF\xBB\xBF" "2", 1},
      {"2\0"s, 2},
      {"0", 0},
      {"007", 7},
      {" \n\r\t", 1},
      {"4294967298", 2},            // 2^32 + 2 wraps to 2
      {"2147483648", INT32_MIN},    // 2^31: negative, so the first layout
      {"4294967295", -1},
      {"99999999999999999999", static_cast<std::int32_t>(1661992959u)},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(LayoutVersionFromText(c.text), c.version) << testing::PrintToString(c.text);
  }
}

// A minimal PE32+ header: "MZ", e_lfanew at 0x3C, "PE\0\0", a 20-byte file
// header, then the optional header's magic.
std::string PeHeader(std::uint32_t peOffset, std::uint16_t magic, std::size_t size = 512) {
  std::string bytes(size, '\0');
  bytes[0] = 'M', bytes[1] = 'Z';
  for (int k = 0; k < 4; ++k) bytes[0x3C + k] = static_cast<char>(peOffset >> (8 * k));
  if (std::size_t{peOffset} + 26 <= size) {
    bytes.replace(peOffset, 4, "PE\0\0"s);
    bytes[peOffset + 24] = static_cast<char>(magic & 0xFF);
    bytes[peOffset + 25] = static_cast<char>(magic >> 8);
  }
  return bytes;
}

TEST(LooksLikeWindowsX64Program, AcceptsOnlyAnMzHeaderLeadingToPe32Plus) {
  std::string noSignature = PeHeader(0x80, 0x20B);
  noSignature[0x81] = 'X';
  static const struct {
    std::string header;
    bool accepted;
  } kCases[] = {
      {PeHeader(0x80, 0x20B), true},
      {PeHeader(0x80, 0x10B), false},  // a 32-bit program
      {PeHeader(0x80, 0x20B).substr(0, 0x80 + 25), false},
      {PeHeader(0x80, 0x20B).substr(0, 0x80 + 26), true},
      {PeHeader(0xFFFFFFF0u, 0x20B), false},
      {PeHeader(0x3C, 0x20B), false},  // the offset's own bytes are no "PE"
      {noSignature, false},
      {"MZ", false},
      {"", false},
      {"ZM" + PeHeader(0x80, 0x20B).substr(2), false},
      {std::string(512, 'A'), false},
  };
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    EXPECT_EQ(LooksLikeWindowsX64Program(kCases[i].header), kCases[i].accepted) << "case " << i;
  }
}

}  // namespace
