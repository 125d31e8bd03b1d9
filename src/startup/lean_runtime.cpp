// The C++ runtime pieces that the stub replaces, linked into Quillmere.exe only.
//
// Nothing in the stub catches an exception: a failed allocation or a string past
// its maximum size can only end the process. The runtime's own versions of these
// functions end it the same way, but by throwing, and so bring the whole
// exception machinery (about 75 KB) and the C++ name demangler (about 70 KB) into
// a program whose own code is a fraction of that. These end it at once instead.
// Should the runtime start to need another of its throwing helpers, the link
// fails with a duplicate definition rather than silently growing the stub.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  std::abort();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace std {
[[noreturn]] void __throw_bad_alloc() { std::abort(); }
[[noreturn]] void __throw_bad_array_new_length() { std::abort(); }
[[noreturn]] void __throw_length_error(const char*) { std::abort(); }
[[noreturn]] void __throw_logic_error(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
}  // namespace std

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
