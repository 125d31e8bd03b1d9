// Reads the built Quillmere.exe as a file and checks what Windows and the player see of it
// before any of its code runs: a 64-bit GUI program that needs no DLL beside it, its
// manifest, its icon, and no version resource.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Little-endian field of `n` bytes; std::string::at makes every read bounds-checked, so a
// damaged file fails the test with an exception instead of reading past the end.
uint32_t Le(const std::string& s, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s.at(at + i));
  return v;
}

// One resource leaf. Type and name use the Windows spelling: "#24" for a numeric ID,
// the name itself (upper case, as resource compilers store it) otherwise.
struct Resource {
  std::string type, name;
  std::string data;
};

// A minimal PE32+ reader: headers, import names and the resource tree.
class Pe {
 public:
  explicit Pe(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    bytes_.assign(std::istreambuf_iterator<char>(in), {});
    if (bytes_.size() < 2 || bytes_.compare(0, 2, "MZ") != 0) throw std::runtime_error(path + " is not an exe");
    const size_t pe = U32(0x3C);
    if (bytes_.compare(pe, 4, std::string("PE\0\0", 4)) != 0) throw std::runtime_error("no PE signature");
    machine = U16(pe + 4);
    opt_ = pe + 24;
    magic = U16(opt_);
    if (magic != 0x20B) return;  // the other fields are laid out differently in PE32
    subsystem = U16(opt_ + 68);
    for (size_t i = 0, n = U16(pe + 6), s = opt_ + U16(pe + 20); i < n; ++i, s += 40)
      sections_.push_back({U32(s + 12), std::max(U32(s + 8), U32(s + 16)), U32(s + 16), U32(s + 20)});
    ReadImports();
    if (const uint32_t rva = Directory(2)) ReadResources(Offset(rva), 0, "", "", 0);
  }

  uint16_t machine = 0, magic = 0, subsystem = 0;
  std::vector<std::string> dlls;  // imported and delay-loaded DLL names, as written
  std::vector<Resource> resources;

  std::vector<const Resource*> Find(const std::string& type, const std::string& name = "") const {
    std::vector<const Resource*> found;
    for (const Resource& r : resources)
      if (r.type == type && (name.empty() || r.name == name)) found.push_back(&r);
    return found;
  }

 private:
  struct Section { uint32_t va, vsize, rawsize, raw; };

  uint32_t U16(size_t at) const { return Le(bytes_, at, 2); }
  uint32_t U32(size_t at) const { return Le(bytes_, at, 4); }

  // RVA of data directory `index`, or 0 when the exe has none.
  uint32_t Directory(uint32_t index) const {
    return index < U32(opt_ + 108) && U32(opt_ + 112 + 8 * index + 4) ? U32(opt_ + 112 + 8 * index) : 0;
  }
  size_t Offset(uint32_t rva) const {
    for (const Section& s : sections_)
      if (rva >= s.va && rva - s.va < s.vsize) {
        if (rva - s.va >= s.rawsize) break;
        return size_t{s.raw} + (rva - s.va);
      }
    throw std::out_of_range("RVA " + std::to_string(rva) + " lies in no section's file data");
  }
  std::string CString(size_t at) const {
    std::string s;
    for (char c; (c = bytes_.at(at)) != '\0'; ++at) s += c;
    return s;
  }

  void ReadImports() {
    // Import descriptors are 20 bytes with the name RVA at 12; delay-load ones are 32
    // bytes with it at 4. Both lists end with a zeroed entry.
    if (const uint32_t rva = Directory(1))
      for (size_t d = Offset(rva); U32(d + 12) != 0; d += 20) dlls.push_back(CString(Offset(U32(d + 12))));
    if (const uint32_t rva = Directory(13))
      for (size_t d = Offset(rva); U32(d + 4) != 0; d += 32) dlls.push_back(CString(Offset(U32(d + 4))));
  }

  // Walks the three levels type / name / language (languages are not kept apart);
  // directory offsets are relative to the root.
  void ReadResources(size_t root, size_t dir, const std::string& type, const std::string& name, int level) {
    const size_t count = U16(root + dir + 12) + U16(root + dir + 14);
    for (size_t i = 0, e = root + dir + 16; i < count; ++i, e += 8) {
      const uint32_t id = U32(e), target = U32(e + 4);
      std::string key = "#" + std::to_string(id);
      if (id & 0x80000000u) {  // a counted UTF-16 name; ours are ASCII
        key.clear();
        const size_t at = root + (id & 0x7FFFFFFFu);
        for (size_t k = 0, n = U16(at); k < n; ++k) {
          const uint32_t c = U16(at + 2 + 2 * k);
          key += c < 0x80 ? static_cast<char>(c) : '?';
        }
      }
      if (level < 2 && (target & 0x80000000u)) {
        ReadResources(root, target & 0x7FFFFFFFu, level == 0 ? key : type, level == 1 ? key : name, level + 1);
      } else if (level == 2 && !(target & 0x80000000u)) {
        const size_t leaf = root + target;
        const size_t data = Offset(U32(leaf)), size = U32(leaf + 4);
        if (data + size > bytes_.size()) throw std::out_of_range("resource data past the end of the file");
        resources.push_back({type, name, bytes_.substr(data, size)});
      } else {
        throw std::runtime_error("resource tree is not three levels deep");
      }
    }
  }

  std::string bytes_;
  size_t opt_ = 0;
  std::vector<Section> sections_;
};

const Pe& Exe() {
  static const Pe exe(QUILLMERE_EXE);
  return exe;
}

TEST(Exe, IsA64BitGuiProgram) {
  EXPECT_EQ(Exe().magic, 0x20B) << "optional header is not PE32+";
  EXPECT_EQ(Exe().machine, 0x8664) << "machine is not x86-64";
  EXPECT_EQ(Exe().subsystem, 2) << "subsystem is not Windows GUI; a console would flash up on every start";
}

TEST(Exe, ImportsOnlyDllsThatShipWithWindows) {
  // The player starts the stub from a freshly extracted folder: a MinGW runtime DLL
  // (libstdc++-6, libgcc_s_seh-1, libwinpthread-1) would be missing there.
  static constexpr const char* kSystemDlls[] = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll",
                                                "advapi32.dll"};
  bool kernel32 = false;
  for (std::string dll : Exe().dlls) {
    std::transform(dll.begin(), dll.end(), dll.begin(), [](unsigned char c) { return std::tolower(c); });
    const bool listed = std::find(std::begin(kSystemDlls), std::end(kSystemDlls), dll) != std::end(kSystemDlls);
    const bool crt = dll.starts_with("api-ms-win-crt-") && dll.ends_with(".dll");
    EXPECT_TRUE(listed || crt) << dll << " is not a Windows system DLL; link the stub -static";
    kernel32 |= dll == "kernel32.dll";
  }
  EXPECT_TRUE(kernel32) << "no import of kernel32.dll found; the import table was not read";
}

TEST(Exe, ManifestRunsAsInvokerAndDeclaresDpiAndLongPathAwareness) {
  // Windows reads the manifest of an exe from RT_MANIFEST ID 1 only; a second one
  // (another ID or language) would mean the toolchain added its own beside ours.
  const auto all = Exe().Find("#24");
  ASSERT_EQ(all.size(), 1u) << "expected exactly one RT_MANIFEST resource";
  ASSERT_EQ(all[0]->name, "#1");
  // Comments may mention anything; only elements count.
  const std::string xml = std::regex_replace(all[0]->data, std::regex(R"(<!--[\s\S]*?-->)"), "");
  static constexpr const char* kPatterns[] = {
      R"(<assemblyIdentity\s[^>]*\bname="Quillmere")",
      R"(<assemblyIdentity\s[^>]*\bversion="1\.0\.0\.0")",
      R"(<requestedExecutionLevel\s[^>]*\blevel="asInvoker")",
      R"(<requestedExecutionLevel\s[^>]*\buiAccess="false")",
      R"(<dpiAware\s+xmlns="http://schemas\.microsoft\.com/SMI/2005/WindowsSettings">True</dpiAware>)",
      R"(<longPathAware\s+xmlns="http://schemas\.microsoft\.com/SMI/2016/WindowsSettings">true</longPathAware>)",
  };
  for (const char* pattern : kPatterns) EXPECT_TRUE(std::regex_search(xml, std::regex(pattern))) << pattern << "\n" << xml;
}

TEST(Exe, IconGroupHoldsNine32BitImagesTheLargestAsPng) {
  // The shell shows an exe's first icon group; with only one there is no doubt which.
  ASSERT_EQ(Exe().Find("#14").size(), 1u) << "expected exactly one RT_GROUP_ICON";
  const auto group = Exe().Find("#14", "IDI_ICON1");
  ASSERT_EQ(group.size(), 1u) << "no icon group named IDI_ICON1";
  const std::string& dir = group[0]->data;  // GRPICONDIR: reserved, type 1, count, then 14-byte entries
  static constexpr uint32_t kSizes[] = {16, 24, 32, 48, 64, 72, 96, 128, 256};
  ASSERT_EQ(Le(dir, 2, 2), 1u);
  ASSERT_EQ(Le(dir, 4, 2), std::size(kSizes));
  for (size_t i = 0; i < std::size(kSizes); ++i) {
    const uint32_t size = kSizes[i];
    const size_t e = 6 + 14 * i;
    SCOPED_TRACE("icon " + std::to_string(size) + " px");
    EXPECT_EQ(Le(dir, e, 1), size % 256) << "width (0 stands for 256)";
    EXPECT_EQ(Le(dir, e + 1, 1), size % 256) << "height";
    EXPECT_EQ(Le(dir, e + 6, 2), 32u) << "bits per pixel";
    const auto image = Exe().Find("#3", "#" + std::to_string(Le(dir, e + 12, 2)));
    ASSERT_EQ(image.size(), 1u) << "the group's RT_ICON is missing";
    const std::string& data = image[0]->data;
    EXPECT_EQ(data.size(), Le(dir, e + 8, 4)) << "size in the group differs from the RT_ICON";
    if (size == 256) {
      // PNG signature, then IHDR: width, height, bit depth 8, colour type 6 (RGBA).
      ASSERT_EQ(data.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
      EXPECT_EQ(data.substr(12, 4), "IHDR");
      EXPECT_EQ(data.substr(16, 8), std::string("\0\0\1\0\0\0\1\0", 8)) << "PNG is not 256x256";
      EXPECT_EQ(data.substr(24, 2), std::string("\x08\x06", 2)) << "PNG is not 8-bit RGBA";
    } else {
      // BITMAPINFOHEADER; the height counts the colour image and the AND mask.
      EXPECT_EQ(Le(data, 0, 4), 40u) << "not a BITMAPINFOHEADER";
      EXPECT_EQ(Le(data, 4, 4), size) << "biWidth";
      EXPECT_EQ(Le(data, 8, 4), 2 * size) << "biHeight";
      EXPECT_EQ(Le(data, 14, 2), 32u) << "biBitCount";
    }
  }
}

TEST(Exe, HasNoVersionResource) {
  EXPECT_TRUE(Exe().Find("#16").empty()) << "the exe carries an RT_VERSION resource";
}

}  // namespace
