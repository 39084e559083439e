// Public: the program's entry, shared by main.cpp and the tests.
#pragma once

namespace tesmo {

// Parses "-v"/"-c", installs the log handler, keeps a single instance, loads the
// translation, starts the local servers and runs the main window. Returns the
// process exit status.
int runProgram(int argc, char** argv);

} // namespace tesmo
