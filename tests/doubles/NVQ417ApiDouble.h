// Control entries of the device API library's test double (see README.md here).
#pragma once

#include <windows.h>

#include <stdint.h>

extern "C" {
__declspec(dllimport) int32_t WINAPI NVQ417Double_SetScript(const char* text);
__declspec(dllimport) int32_t WINAPI NVQ417Double_GetLog(char* buffer, int32_t size);
}
