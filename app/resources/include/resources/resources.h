// Public: the program's compiled-in resources (icons under ":/images/").
#pragma once

namespace tesmo {

// Registers the compiled-in resources. A static library's resource
// initialiser is otherwise dropped by the linker; call once before any
// ":/images/..." path is used. Safe to call more than once.
void initResources();

} // namespace tesmo
