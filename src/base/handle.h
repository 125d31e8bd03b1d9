// Owned system handles: every early return closes what was opened.
#pragma once

#include <windows.h>

#include <utility>

namespace quillmere {

template <BOOL(WINAPI* Close)(HANDLE), bool kNullIsOnlyInvalid>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  // A process or thread handle of -1 would be the current process, so for those
  // only null means "no handle".
  explicit operator bool() const {
    return handle_ != nullptr && (kNullIsOnlyInvalid || handle_ != INVALID_HANDLE_VALUE);
  }
  HANDLE get() const { return handle_; }
  void reset() {
    if (*this) Close(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

using UniqueFile = UniqueHandle<CloseHandle, false>;
using UniqueFind = UniqueHandle<FindClose, false>;
using UniqueProcessHandle = UniqueHandle<CloseHandle, true>;
using UniqueEvent = UniqueHandle<CloseHandle, true>;
using UniqueJob = UniqueHandle<CloseHandle, true>;

}  // namespace quillmere
