// The PATH target on Windows: the `Path` value of HKEY_CURRENT_USER\Environment.

#include <windows.h>

#include <vector>

#include "agent_integration/user_path.h"
#include "core/paths.h"
#include "core/text.h"
#include "platform/handle.h"
#include "platform/platform.h"
#include "platform/win32.h"

namespace vellumo::agents {
namespace {

constexpr DWORD kFirstReadSize = 2048;

// An open registry key, closed with RegCloseKey; null is none.
struct KeyCloser {
  static constexpr std::intptr_t invalid = 0;
  static void close(std::intptr_t key) { ::RegCloseKey(static_cast<HKEY>(win32::as_handle(key))); }
};
using Key = platform::UniqueHandle<KeyCloser>;

using win32::error_text;

// Tells running programs (Explorer above all) that the user environment
// changed, so that shells started afterwards see the new PATH.
void announce_environment_change() {
  ::SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                        reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG, 2000, nullptr);
}

}  // namespace

std::optional<std::string> user_path_link() { return std::nullopt; }

TargetResult update_user_path(Mode mode, std::string_view name, std::string_view cli_path) {
  const auto path_line = [&](TargetState state, std::string detail) {
    return TargetResult{std::string(name), state, std::move(detail)};
  };
  // The folder as text: a name that is not (an unpaired surrogate in it)
  // shows U+FFFD in its place.
  const auto folder = parent_folder(lossy_utf8(cli_path), PathStyle::Windows);
  if (!folder) {
    return path_line(TargetState::Failed, "The CLI has no folder.");
  }

  HKEY key = nullptr;
  LSTATUS rc = ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_READ | KEY_WRITE, &key);
  if (rc != ERROR_SUCCESS) {
    return path_line(TargetState::Failed, "Cannot open the user environment: " + error_text(rc));
  }
  const Key owned(win32::as_value(key));

  DWORD type = REG_EXPAND_SZ;
  std::vector<BYTE> data(kFirstReadSize);
  DWORD size = 0;
  for (;;) {
    size = static_cast<DWORD>(data.size());
    rc = ::RegQueryValueExW(key, L"Path", nullptr, &type, data.data(), &size);
    if (rc != ERROR_MORE_DATA) {
      break;
    }
    data.resize(size);
  }
  std::string value;
  if (rc == ERROR_FILE_NOT_FOUND) {
    type = REG_EXPAND_SZ;
  } else if (rc != ERROR_SUCCESS) {
    // Never go on to write: an install would replace the user's PATH.
    return path_line(TargetState::Failed, "Cannot read the user PATH: " + error_text(rc));
  } else if (type > REG_QWORD) {
    return path_line(TargetState::Failed,
                     "Cannot read the user PATH: it has the unknown registry type " +
                         std::to_string(type) + ".");
  } else {
    std::wstring text(size / 2, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    while (!text.empty() && text.back() == L'\0') {
      text.pop_back();
    }
    value = win32::to_utf8(text);
  }

  const auto lookup = [](std::string_view name) {
    return platform::get_env(std::string(name).c_str());
  };
  const PathPlan plan = plan_user_path(mode, value, *folder, lookup);
  if (plan.new_value) {
    const auto text = win32::to_wide(*plan.new_value);
    if (!text) {
      return path_line(TargetState::Failed, "Cannot update the user PATH: " + text.error());
    }
    // The text with its terminating NUL.
    rc = ::RegSetValueExW(key, L"Path", 0, type, reinterpret_cast<const BYTE*>(text->c_str()),
                          static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) {
      return path_line(TargetState::Failed, "Cannot update the user PATH: " + error_text(rc));
    }
    announce_environment_change();
  }
  return path_line(plan.state, *folder);
}

}  // namespace vellumo::agents
