// Unclosed takes for the window's recovery tests, kept in a file of its own:
// the fixture's layout type shares its name with the engine's.
#include "UnclosedTakeFixture.h"

#include <string>

bool writeUnclosedStereoTake(const std::string& path, long long frames)
{
    return writeUnclosedTake(path, TakeLayout{}, frames, 0);
}
