#include "ControllerTestSupport.h"

#include <dirent.h>

#include <filesystem>

namespace {

int entriesIn(const char* folder)
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

}  // namespace

int openDescriptorCount()
{
    return entriesIn("/proc/self/fd");
}

int threadCount()
{
    return entriesIn("/proc/self/task");
}
