// The system's text of a Windows error code, without its line end.
#pragma once
#include <windows.h>

#include <string>

std::string WindowsErrorText(DWORD error);
