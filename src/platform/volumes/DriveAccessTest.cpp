#include "platform/volumes/DriveAccessTest.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string_view>

namespace fs = std::filesystem;

DriveAccessResult testDriveWriteAccess(const std::string& path, const VolumeSystem& volumes)
{
    DriveAccessResult result;
    const std::optional<MountedVolume> volume = volumes.volumeForPath(path);
    std::error_code error;
    if (!volume || volume->systemRoot || volume->rootPath == "/" || !fs::is_directory(path, error)) {
        result.status = DriveAccessResult::Status::Missing;
        return result;
    }
    const fs::path folder = fs::path(path) / "Tonvale";
    if (!fs::is_directory(folder, error) && !fs::create_directory(folder, error)) {
        result.status = error.value() == EACCES || error.value() == EROFS || error.value() == EPERM
                            ? DriveAccessResult::Status::NotWritable
                            : DriveAccessResult::Status::Error;
        result.reason = error.message();
        return result;
    }
    const fs::path probe = folder / ".tonvale_access_test";
    {
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            result.status = DriveAccessResult::Status::NotWritable;
            return result;
        }
        constexpr std::string_view kProbeText = "Tonvale access test";
        const bool written = ::write(fd, kProbeText.data(), kProbeText.size()) == static_cast<ssize_t>(kProbeText.size());
        if (::close(fd) != 0 || !written) {
            fs::remove(probe, error);
            result.status = DriveAccessResult::Status::NotWritable;
            return result;
        }
    }
    if (!fs::remove(probe, error) && error) {
        result.status = DriveAccessResult::Status::Error;
        result.reason = error.message();
        return result;
    }
    result.status = DriveAccessResult::Status::Granted;
    return result;
}

std::string driveAccessAdvice(const std::string& path, const std::string& error)
{
    std::string text = "Cannot access external drive:\n" + path + "\n\n";
    if (!error.empty())
        text += "Error: " + error + "\n\n";
    text += "On Linux, check that the drive is mounted writable for this user:\n"
            "1. Make sure the card's write-protect switch is off\n"
            "2. Mount it read-write (not read-only)\n"
            "3. Give your user write permission on the drive\n"
            "4. Try again";
    return text;
}

std::string driveMissingText(const std::string& path)
{
    return "Cannot access external drive:\n" + path + "\n\nThe drive is not mounted. Connect it and try again.";
}
