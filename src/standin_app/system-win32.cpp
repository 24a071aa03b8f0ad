// system.h on Windows.

#include <windows.h>

#include <string>

#include "standin_app/system.h"

namespace vellumo::standin::sys {

Result<void, std::string> keep_private(const std::string&) { return {}; }

std::uint64_t process_id() { return GetCurrentProcessId(); }

}  // namespace vellumo::standin::sys
