#pragma once
// The service program: install, remove, or run as the service "KorService" under the service
// control manager. Returns the process's exit code.

namespace korvex::win32 {

int RunServiceProgram();

}  // namespace korvex::win32
