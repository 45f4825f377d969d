// Turning names and paths that phones send into paths inside our own folders.
#pragma once

#include <string>

namespace transfer {

// The last component of a received file name ('/' and '\' both separate).
// Empty when nothing usable remains: an empty name, ".", "..", or a name
// holding a NUL byte.
std::string safeFileName(const std::string& name);

// `folder` + "/" + `relative`, resolved (".." and symbolic links of the
// existing part followed). Empty when the result does not lie inside
// `folder` or when `relative` names the folder itself.
std::string resolveInside(const std::string& folder, const std::string& relative);

}  // namespace transfer
