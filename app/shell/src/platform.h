// Internal: the few services the shell needs from the operating system.
#pragma once

#include <QString>

namespace tesmo::platform {

// Directory holding the running executable, without a trailing slash. Works
// before the application object exists (the log handler needs it that early).
QString executableDir();

} // namespace tesmo::platform
