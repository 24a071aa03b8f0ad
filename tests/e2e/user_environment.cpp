// Reads and writes the `Path` value of HKEY_CURRENT_USER\Environment byte
// for byte, for the end-to-end tests under Wine (`reg` cannot give the exact
// data nor the key's time of last change). Built for Windows only.
//
//   user_environment get             prints two lines: "missing", or the
//                                    value's type number and its data in
//                                    hex; then the key's last write time
//                                    (FILETIME ticks, decimal)
//   user_environment set TYPE HEX    writes the value: that type, those bytes
//   user_environment delete          deletes the value (none is no error)
//
// Exit code 0 on success, 1 with a message on standard error otherwise.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int failed(const char* what, LSTATUS code) {
  std::fprintf(stderr, "user_environment: %s failed with %ld\n", what, static_cast<long>(code));
  return 1;
}

int get(HKEY key) {
  DWORD type = 0;
  DWORD size = 0;
  LSTATUS rc = RegQueryValueExW(key, L"Path", nullptr, &type, nullptr, &size);
  std::string line;
  if (rc == ERROR_FILE_NOT_FOUND) {
    line = "missing";
  } else if (rc != ERROR_SUCCESS) {
    return failed("RegQueryValueExW", rc);
  } else {
    std::vector<BYTE> data(size);
    rc = RegQueryValueExW(key, L"Path", nullptr, &type, data.data(), &size);
    if (rc != ERROR_SUCCESS) {
      return failed("RegQueryValueExW", rc);
    }
    line = std::to_string(type) + " ";
    static const char kDigits[] = "0123456789abcdef";
    for (DWORD i = 0; i < size; ++i) {
      line += kDigits[data[i] >> 4];
      line += kDigits[data[i] & 15];
    }
  }
  FILETIME written{};
  rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr, &written);
  if (rc != ERROR_SUCCESS) {
    return failed("RegQueryInfoKeyW", rc);
  }
  const unsigned long long ticks =
      (static_cast<unsigned long long>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  std::printf("%s\n%llu\n", line.c_str(), ticks);
  return 0;
}

int set(HKEY key, const char* type_text, const std::string& hex) {
  if (hex.size() % 2 != 0) {
    std::fprintf(stderr, "user_environment: odd hex length\n");
    return 1;
  }
  std::vector<BYTE> data;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    data.push_back(static_cast<BYTE>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  const DWORD type = static_cast<DWORD>(std::strtoul(type_text, nullptr, 10));
  // RegSetValueExW takes in a NUL that follows a text value's bytes
  // unasked, as Windows does; what follows ours is no NUL.
  const DWORD size = static_cast<DWORD>(data.size());
  data.push_back(0xFF);
  data.push_back(0xFF);
  const LSTATUS rc = RegSetValueExW(key, L"Path", 0, type, size == 0 ? nullptr : data.data(), size);
  return rc == ERROR_SUCCESS ? 0 : failed("RegSetValueExW", rc);
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string command = argc > 1 ? argv[1] : "";
  HKEY key = nullptr;
  const LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, L"Environment", 0, nullptr, 0,
                                     KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    return failed("RegCreateKeyExW", rc);
  }
  int result = 2;
  if (command == "get" && argc == 2) {
    result = get(key);
  } else if (command == "set" && (argc == 3 || argc == 4)) {
    result = set(key, argv[2], argc == 4 ? argv[3] : "");
  } else if (command == "delete" && argc == 2) {
    const LSTATUS deleted = RegDeleteValueW(key, L"Path");
    result = deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND
                 ? 0
                 : failed("RegDeleteValueW", deleted);
  } else {
    std::fprintf(stderr, "usage: user_environment get | set TYPE HEX | delete\n");
  }
  RegCloseKey(key);
  return result;
}
