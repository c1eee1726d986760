#pragma once
// The one header that includes <windows.h>. Every Win32 translation unit includes this instead.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#ifndef UNICODE
#define UNICODE
#endif

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <utility>

#include "core/text.h"

namespace korvex::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* W(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
inline Text FromW(const wchar_t* text) { return text ? Text(reinterpret_cast<const char16_t*>(text)) : Text(); }
inline Text FromW(const wchar_t* text, std::size_t length) {
  return Text(reinterpret_cast<const char16_t*>(text), length);
}

// Owns one OS handle; Traits give the invalid value and the close call.
template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(std::exchange(other.handle_, Traits::Invalid())) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, Traits::Invalid()));
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Reset(); }

  Handle Get() const { return handle_; }
  bool Valid() const { return handle_ != Traits::Invalid(); }
  explicit operator bool() const { return Valid(); }
  Handle Release() { return std::exchange(handle_, Traits::Invalid()); }
  void Reset(Handle handle = Traits::Invalid()) {
    if (Valid()) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};
struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::RegCloseKey(h); }
};
struct ScHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::CloseServiceHandle(h); }
};
struct SocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() { return INVALID_SOCKET; }
  static void Close(Handle h) { ::closesocket(h); }
};

using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
using ScopedFileHandle = ScopedHandle<FileHandleTraits>;
using ScopedRegKey = ScopedHandle<RegKeyTraits>;
using ScopedScHandle = ScopedHandle<ScHandleTraits>;
using ScopedSocket = ScopedHandle<SocketTraits>;

}  // namespace korvex::win32
