#pragma once

#include <string>

// The program's one diagnostic output: "[LOG] " + text on standard error and
// the bare text appended to $HOME/tonvale_debug.log (/tmp/tonvale_debug.log
// without HOME). The file is opened and closed per line, so every line is on
// disk even if the process dies right after.
//
// Any thread but the real-time audio thread may call it (it opens a file).
// No lock: lines from different threads may interleave on standard error.
void debugLog(const std::string& text);

// The path the next debugLog call appends to.
std::string debugLogPath();
