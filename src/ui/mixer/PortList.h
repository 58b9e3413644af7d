#pragma once

#include <string>
#include <vector>

// The ports of a stored "a, b ,c," list: pieces between commas with the
// spaces around them trimmed; blank pieces are dropped.
inline std::vector<std::string> splitPortList(const std::string& text)
{
    std::vector<std::string> ports;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        const size_t first = item.find_first_not_of(' ');
        if (first != std::string::npos)
            ports.push_back(item.substr(first, item.find_last_not_of(' ') - first + 1));
        start = end + 1;
    }
    return ports;
}
