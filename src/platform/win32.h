#pragma once

// What the Windows halves of the system pairs (the *-win32.cpp files)
// share: texts between UTF-8 and UTF-16 at the W functions, an owned
// HANDLE, the null device, the system error text of a code, and the one
// loop that writes all of a text. Only those
// files and Windows-only tests and helpers include it. It stays free of
// <windows.h>: a HANDLE is a void*, a DWORD an unsigned long.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"
#include "platform/handle.h"

namespace vellumo::win32 {

/// `text` in UTF-16 for the W functions. Text that is not valid UTF-8 is
/// refused as the system refuses a name it cannot map: the error is the
/// system error text of ERROR_NO_UNICODE_TRANSLATION.
Result<std::wstring, std::string> to_wide(std::string_view text);

/// UTF-16 from the system in UTF-8, every unpaired surrogate replaced by
/// U+FFFD. The one way back from UTF-16 on Windows, with to_utf8_exact and
/// to_utf8_marked.
std::string to_utf8(std::wstring_view text);

/// UTF-16 from the system in UTF-8, every unpaired surrogate kept in the
/// three-byte form that no valid UTF-8 holds (utf16_to_utf8_marked).
std::string to_utf8_marked(std::wstring_view text);

/// UTF-16 from the system in UTF-8; nullopt when `text` holds an unpaired
/// surrogate, for texts that must not be changed on the way.
std::optional<std::string> to_utf8_exact(std::wstring_view text);

/// The system error text of a DWORD or LSTATUS code.
std::string error_text(unsigned long code);

inline void* as_handle(std::intptr_t value) { return reinterpret_cast<void*>(value); }
inline std::intptr_t as_value(void* handle) { return reinterpret_cast<std::intptr_t>(handle); }

/// An owned HANDLE, closed with CloseHandle. Null, which some calls return
/// on failure where others return INVALID_HANDLE_VALUE, is none too.
class Handle : public platform::UniqueHandle<platform::SystemHandle> {
 public:
  Handle() = default;
  explicit Handle(void* handle)
      : UniqueHandle(handle == nullptr ? platform::SystemHandle::invalid : as_value(handle)) {}

  void* get() const { return as_handle(UniqueHandle::get()); }
  void* release() { return as_handle(UniqueHandle::release()); }
};

/// Writes all of `bytes` to `handle` with WriteFile, going on after a
/// partial write: 0 (ERROR_SUCCESS), or the error code of the write that
/// failed (ERROR_WRITE_FAULT for one that took no bytes).
unsigned long write_all(void* handle, std::string_view bytes);

/// The null device, open for reading and writing and inheritable: the
/// standard streams of a child that gets nothing else on them. None when
/// it cannot be opened (GetLastError says why).
Handle open_null_device();

}  // namespace vellumo::win32
