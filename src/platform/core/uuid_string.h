#pragma once
// Random (version 4) UUIDs in their 36-character upper-case textual form.

#include <string>

namespace platform {

std::string createUUIDString();

} // namespace platform
