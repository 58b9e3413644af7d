#include "MediaTestFiles.h"

#include "WrittenFile.h"

#include <fstream>
#include <sndfile.h>

bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<uint8_t> readFileBytes(const std::string& path)
{
    return WrittenFile::load(path).bytes;
}

SndfileContent readWithSndfile(const std::string& path)
{
    SndfileContent content;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return content;
    content.channels = info.channels;
    content.sampleRate = info.samplerate;
    content.frames = info.frames;
    content.format = info.format;
    const size_t count = static_cast<size_t>(info.frames) * info.channels;
    content.samples.resize(count);
    if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        sf_readf_float(file, content.samples.data(), info.frames);
    } else {
        std::vector<int> ints(count);
        sf_readf_int(file, ints.data(), info.frames);
        for (size_t i = 0; i < count; ++i)
            content.samples[i] = static_cast<float>(static_cast<double>(ints[i]) / 2147483648.0);
    }
    sf_close(file);
    return content;
}
