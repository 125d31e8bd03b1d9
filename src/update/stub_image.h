// Whether a file can take the stub's place: a program that Windows will start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillmere {

// How many leading bytes IsWholeX64GuiProgram wants to see: its headers must lie
// within them.
inline constexpr std::size_t kStubHeaderBytes = 4096;

// True for a whole 64-bit Windows GUI program for x64, judged from `head`, the
// file's first bytes, and `fileSize`: "MZ", the PE header, machine AMD64, the PE32+
// magic, an executable image that is no DLL, the GUI subsystem, and a file long
// enough for its headers and for the raw data of every section. A download cut
// short, a DLL or a program for another machine fails this.
bool IsWholeX64GuiProgram(std::string_view head, std::uint64_t fileSize);

}  // namespace quillmere
