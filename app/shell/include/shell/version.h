// Public: the program's version text, shown by "-v" and in the window title.
#pragma once

namespace tesmo {

inline constexpr char kVersion[] = "2.4.0607";

} // namespace tesmo
