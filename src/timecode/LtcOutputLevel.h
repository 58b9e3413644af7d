#pragma once

#include <array>

// The generator's output levels as the configuration stores them: the key
// "ltcgen.level" holds an index into this one list, read and written by every
// dialog that sets the generator's level, so an index means the same dBFS
// wherever it is read back.
namespace LtcOutputLevel {

constexpr std::array<double, 6> kLevelsDb{0.0, -3.0, -6.0, -10.0, -12.0, -18.0};
constexpr int kDefaultIndex = 3;  // -10 dBFS, the generator's own default

constexpr bool isValidIndex(int index)
{
    return index >= 0 && index < static_cast<int>(kLevelsDb.size());
}

// An index outside the list (a damaged or foreign value) falls back to the
// default level, never to full scale: 0 dBFS LTC into a camera input
// overloads it.
constexpr int indexOrDefault(int index)
{
    return isValidIndex(index) ? index : kDefaultIndex;
}

constexpr double levelDbForIndex(int index)
{
    return kLevelsDb[static_cast<size_t>(indexOrDefault(index))];
}

}  // namespace LtcOutputLevel
