#pragma once

#include <sys/stat.h>

// Sets the process's umask for one test and gives the old one back; the
// tests that use it run no other thread that creates files meanwhile.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t previous_;
};

// Umasks and the mode each gives a file created with 0666.
struct UmaskCase {
    mode_t mask;
    int mode;
};
inline constexpr UmaskCase kUmaskCases[] = {{022, 0644}, {027, 0640}, {077, 0600}, {002, 0664}};

// The permission bits of `path`; -1 when it cannot be read.
inline int fileModeBits(const char* path)
{
    struct stat info {};
    return ::stat(path, &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}
