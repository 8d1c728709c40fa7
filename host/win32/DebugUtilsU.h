// The device host's debugger output: every line goes to OutputDebugStringW, whatever the debug
// mode, so that a debug monitor shows what the host did. Lines are written in the order they
// were given by a writer thread of their own: the host's work (a client's request above all)
// never waits for the debugger output, which costs tens of microseconds a line and, with a debug
// monitor that is slow to take lines, up to 10 seconds.
#pragma once

#include "DebugText.h"

#include <string_view>

// Writes one text as one line.
void DebugOut(std::wstring_view text) noexcept;
// Formats with %d, %x and %s (see DebugText.h) and writes the result as one line.
void DebugOutFmt(const wchar_t* format, std::initializer_list<pellix::TDebugArg> args) noexcept;
// Waits (at most about 20 s) until every line given so far has been written; the program entry
// calls it before the process ends.
void DebugFlush() noexcept;
