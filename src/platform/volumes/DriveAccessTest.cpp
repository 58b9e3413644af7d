#include "platform/volumes/DriveAccessTest.h"

#include <filesystem>
#include <fstream>

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
        std::ofstream out(probe, std::ios::binary | std::ios::trunc);
        if (!out) {
            result.status = DriveAccessResult::Status::NotWritable;
            return result;
        }
        out << "Tonvale access test";
        out.close();
        if (!out) {
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
