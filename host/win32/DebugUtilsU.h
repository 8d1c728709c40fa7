// The device host's debugger output: every line goes to OutputDebugStringW, whatever the
// debug mode, so that a debug monitor shows what the host did.
#pragma once

#include "DebugText.h"

#include <string>

// Writes one text as one line.
void DebugOut(const std::wstring& text) noexcept;
// Formats with %d, %x and %s (see DebugText.h) and writes the result as one line.
void DebugOutFmt(const wchar_t* format, std::initializer_list<pellix::TDebugArg> args) noexcept;
