#include "controllers/SurfaceKind.h"

#include <algorithm>

bool SurfaceKind::matches(const std::string& deviceName) const
{
    if (!name.empty())
        return deviceName == name;
    if (nameWords.empty())
        return true;
    return std::any_of(nameWords.begin(), nameWords.end(),
                       [&](const std::string& word) { return deviceName.find(word) != std::string::npos; });
}

bool SurfaceKind::isFamilyOf(const std::string& deviceName) const
{
    return std::any_of(familyWords.begin(), familyWords.end(),
                       [&](const std::string& word) { return deviceName.find(word) != std::string::npos; });
}
