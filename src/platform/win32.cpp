#include "platform/win32.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <type_traits>

#include "core/utf8.h"
#include "platform/platform.h"

namespace vellumo::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 in wchar_t");
static_assert(std::is_same_v<DWORD, unsigned long>, "DWORD as unsigned long");
static_assert(std::is_same_v<HANDLE, void*>, "HANDLE as void*");

Result<std::wstring, std::string> to_wide(std::string_view text) {
  const auto converted = utf8_to_utf16(text);
  if (!converted) {
    return error_text(ERROR_NO_UNICODE_TRANSLATION);
  }
  return std::wstring(converted->begin(), converted->end());
}

namespace {

std::u16string_view units(std::wstring_view text) {
  return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

}  // namespace

std::string to_utf8(std::wstring_view text) { return utf16_to_utf8_lossy(units(text)); }

std::string to_utf8_marked(std::wstring_view text) { return utf16_to_utf8_marked(units(text)); }

std::optional<std::string> to_utf8_exact(std::wstring_view text) {
  return utf16_to_utf8(units(text));
}

// WriteFile takes at most a DWORD of bytes, and a write of many megabytes
// at once can fail for want of system resources (on a pipe or a network
// file); a block of 1 MiB, the file layer's block, is neither.
constexpr std::size_t kWriteBlock = std::size_t{1} << 20;

unsigned long write_all(void* handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD block = static_cast<DWORD>(std::min(bytes.size(), kWriteBlock));
    DWORD put = 0;
    if (!::WriteFile(handle, bytes.data(), block, &put, nullptr)) {
      return ::GetLastError();
    }
    if (put == 0) {
      return ERROR_WRITE_FAULT;
    }
    bytes.remove_prefix(put);
  }
  return ERROR_SUCCESS;
}

Handle open_null_device() {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return Handle(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                              nullptr));
}

std::string error_text(unsigned long code) {
  return platform::system_error_text(static_cast<long>(code));
}

}  // namespace vellumo::win32
