#include "core/win32/windows_api.h"
#include "service/win32/service_program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return korvex::win32::RunServiceProgram(); }
