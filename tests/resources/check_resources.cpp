// Reads the resources of a Windows executable back and checks them: the
// version record (fixed and string parts), the common-controls manifest and
// the icon. Prints what is wrong and exits 1, or exits 0.
//
//   check_resources <exe>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "version.h"

namespace {

// The version that the build put into the record: major, minor, patch, 0.
constexpr WORD kVersion[] = {VELLUMO_VERSION_BINARY};

int failures = 0;

void expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

std::wstring string_value(std::vector<BYTE>& info, const wchar_t* name) {
  std::wstring query = L"\\StringFileInfo\\040904b0\\";
  query += name;
  wchar_t* text = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) ||
      text == nullptr) {
    return L"";
  }
  return std::wstring(text, length > 0 ? length - 1 : 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: check_resources <exe>\n");
    return 2;
  }
  const wchar_t* path = argv[1];

  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  expect(size > 0, "the file has a version record");
  if (size > 0) {
    std::vector<BYTE> info(size);
    expect(::GetFileVersionInfoW(path, 0, size, info.data()), "the version record can be read");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    expect(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
               fixed != nullptr,
           "the version record has a fixed part");
    if (fixed != nullptr) {
      const DWORD high = MAKELONG(kVersion[1], kVersion[0]);
      const DWORD low = MAKELONG(kVersion[3], kVersion[2]);
      expect(fixed->dwFileVersionMS == high && fixed->dwFileVersionLS == low,
             "fixed file version " VELLUMO_VERSION ".0");
      expect(fixed->dwProductVersionMS == high && fixed->dwProductVersionLS == low,
             "fixed product version " VELLUMO_VERSION ".0");
    }
    expect(string_value(info, L"ProductName") == L"Vellumo", "ProductName Vellumo");
    expect(string_value(info, L"FileVersion") == L"" VELLUMO_VERSION,
           "FileVersion " VELLUMO_VERSION);
    expect(string_value(info, L"ProductVersion") == L"" VELLUMO_VERSION,
           "ProductVersion " VELLUMO_VERSION);
    expect(!string_value(info, L"FileDescription").empty(), "a FileDescription");
  }

  HMODULE module =
      ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  expect(module != nullptr, "the file loads as a resource module");
  if (module != nullptr) {
    HRSRC manifest = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    expect(manifest != nullptr, "a manifest (resource 1 of type 24)");
    if (manifest != nullptr) {
      const char* text = static_cast<const char*>(::LockResource(::LoadResource(module, manifest)));
      const std::string xml(text, ::SizeofResource(module, manifest));
      expect(xml.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"") !=
                 std::string::npos,
             "the manifest asks for common controls version 6");
    }
    HRSRC group = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));
    expect(group != nullptr, "an icon group");
    if (group != nullptr) {
      const auto* header = static_cast<const WORD*>(::LockResource(::LoadResource(module, group)));
      expect(header != nullptr && header[1] == 1 && header[2] >= 4,
             "the icon group holds several sizes");
    }
    ::FreeLibrary(module);
  }
  if (failures == 0) {
    std::printf("resources ok\n");
  }
  return failures == 0 ? 0 : 1;
}
