#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Byte-level access to a file a test wrote, for checking exact layouts.
struct WrittenFile {
    std::vector<uint8_t> bytes;

    static WrittenFile load(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})};
    }

    uint64_t le(size_t offset, int width) const
    {
        uint64_t value = 0;
        for (int i = width - 1; i >= 0; --i)
            value = (value << 8) | bytes.at(offset + static_cast<size_t>(i));
        return value;
    }
    uint16_t u16(size_t offset) const { return static_cast<uint16_t>(le(offset, 2)); }
    uint32_t u32(size_t offset) const { return static_cast<uint32_t>(le(offset, 4)); }
    uint64_t u64(size_t offset) const { return le(offset, 8); }
    std::string text(size_t offset, size_t length) const
    {
        return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                           bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
    }
};
