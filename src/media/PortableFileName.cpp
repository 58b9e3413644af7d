#include "media/PortableFileName.h"

#include <string_view>

namespace {

constexpr std::string_view kRefusedCharacters = "\\/:*?\"<>|";

bool isRefused(unsigned char c)
{
    return c < 0x20 || c == 0x7F || kRefusedCharacters.find(static_cast<char>(c)) != std::string_view::npos;
}

bool isUtf8Continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

} // namespace

std::string portableName(const std::string& name)
{
    if (name.empty())
        return "_";
    std::string safe = name;
    for (char& c : safe) {
        if (isRefused(static_cast<unsigned char>(c)))
            c = '_';
    }
    // Windows strips a trailing dot or space, so two names would meet; "."
    // and ".." become underscores the same way.
    for (auto it = safe.rbegin(); it != safe.rend() && (*it == '.' || *it == ' '); ++it)
        *it = '_';
    return safe;
}

std::string shortenUtf8(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t end = maxBytes;
    while (end > 0 && isUtf8Continuation(static_cast<unsigned char>(text[end])))
        --end;
    return text.substr(0, end);
}

std::string sanitizeTrackName(const std::string& name)
{
    if (name.empty())
        return name;
    std::string safe = portableName(shortenUtf8(name, kMaxTrackNameBytesInFileName));
    for (char& c : safe) {
        if (c == ' ')
            c = '_';
    }
    return safe;
}
