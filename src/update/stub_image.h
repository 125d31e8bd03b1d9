// Whether a file can take the stub's place: a program that Windows will start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillmere {

// How many leading bytes IsWholeX64GuiProgram wants to see: its headers must lie
// within them.
inline constexpr std::size_t kStubHeaderBytes = 4096;

// How many bytes of a certificate table IsWholeX64GuiProgram wants to see: its first
// entry's header.
inline constexpr std::size_t kCertificateEntryBytes = 8;

// Where the certificate table (the signature) of the program whose first bytes are
// `head` begins, as an offset in the file; 0 when its headers name none.
std::uint64_t CertificateTableOffset(std::string_view head);

// True for a whole 64-bit Windows GUI program for x64, judged from `head`, the
// file's first bytes, and `fileSize`: "MZ", the PE header, machine AMD64, the PE32+
// magic, an executable image that is no DLL, the GUI subsystem, and a file long
// enough for its headers and for the raw data of every section. A signed program
// must also hold its whole certificate table, 8-byte aligned at the end of the file,
// and `certificate`, the bytes at CertificateTableOffset (at least
// kCertificateEntryBytes of them), must begin with a plausible entry: a length of at
// least 8 that fits the table, revision 2.0 and PKCS#7 signed data. A download cut
// short, even inside its signature, a DLL or a program for another machine fails this.
bool IsWholeX64GuiProgram(std::string_view head, std::uint64_t fileSize,
                          std::string_view certificate = {});

}  // namespace quillmere
