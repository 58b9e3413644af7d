#include "core/DebugLog.h"

#include <cstdio>
#include <cstdlib>

std::string debugLogPath()
{
    const char* home = std::getenv("HOME");
    if (home == nullptr)
        return "/tmp/tonvale_debug.log";
    return std::string(home) + "/tonvale_debug.log";
}

void debugLog(const std::string& text)
{
    std::fputs("[LOG] ", stderr);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);

    // A log that cannot be written must never stop the caller.
    std::FILE* file = std::fopen(debugLogPath().c_str(), "ae");
    if (file == nullptr)
        return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fputc('\n', file);
    std::fflush(file);
    std::fclose(file);
}
