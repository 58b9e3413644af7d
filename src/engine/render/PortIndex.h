#pragma once

#include "engine/render/RoutingSnapshot.h"

#include <string>
#include <unordered_map>
#include <vector>

// Port names resolved to channel indexes for the engine's routing setters
// (GUI thread). The setters keep their own log lines; these only look up.
namespace PortIndex {

// The input name that stands for the LTC generator's own signal rather than
// a device channel, for tracks and for the LTC reader.
inline const std::string kLtcGeneratorInputName = "LTCGEN";

// Position of the first equal name, RoutingSnapshot::kNoChannel when absent.
inline int firstIndexOf(const std::vector<std::string>& names, const std::string& name)
{
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name)
            return static_cast<int>(i);
    }
    return RoutingSnapshot::kNoChannel;
}

// Name to index where a later duplicate replaces an earlier one.
inline std::unordered_map<std::string, int> lastIndexByName(const std::vector<std::string>& names)
{
    std::unordered_map<std::string, int> indexes;
    for (size_t i = 0; i < names.size(); ++i)
        indexes[names[i]] = static_cast<int>(i);
    return indexes;
}

// The indexes of the names that have one, in the order of `names`; unknown
// names are left out.
inline std::vector<int> resolveAll(const std::unordered_map<std::string, int>& indexes,
                                   const std::vector<std::string>& names)
{
    std::vector<int> resolved;
    for (const std::string& name : names) {
        const auto found = indexes.find(name);
        if (found != indexes.end())
            resolved.push_back(found->second);
    }
    return resolved;
}

}  // namespace PortIndex
