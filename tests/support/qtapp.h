#pragma once

// Creates the process's QApplication once (offscreen under ctest) and returns it.
class QApplication;
QApplication* ensureQtApp();
