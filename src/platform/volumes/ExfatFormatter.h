#pragma once

#include "platform/volumes/MountedVolume.h"

#include <functional>
#include <string>
#include <vector>

// Erases a mounted external volume as exFAT labelled "Tonvale" and mounts the
// result as "Tonvale" beside where it was (same volumes root): unmount, then
// `mkfs.exfat -L Tonvale <device>`, then mount (the kernel's exfat, else
// mount.exfat-fuse). Each program is configurable so tests can stand in for
// it. A step still running at its limit is killed and the run fails.
// Blocking, up to a minute and more: the window runs format() on a worker
// thread. A formatter is used by one thread at a time; the take-active check
// and the step observer are called on the thread that runs format().
class ExfatFormatter {
public:
    static constexpr const char* kLabel = "Tonvale";

    struct Programs {
        std::string unmount = "umount";
        std::string mkfs = "mkfs.exfat";
        std::string mount = "mount";
        std::string fuseMount = "mount.exfat-fuse";
    };

    struct Result {
        bool ok = false;
        bool erased = false;        // the volume was written over (its old data is gone)
        std::string mountedPath;    // where the new volume is mounted, when ok
        std::string reason;         // why it failed
    };

    // Uses the programs last given to setDefaultPrograms (the system's by default).
    ExfatFormatter() : programs_(defaultPrograms()) {}
    explicit ExfatFormatter(Programs programs) : programs_(std::move(programs)) {}

    // Tests stand in for the system's programs in every formatter made
    // afterwards (the window makes its own); Programs{} returns to the real
    // ones. GUI thread.
    static void setDefaultPrograms(Programs programs);
    static Programs defaultPrograms();

    void setTimeouts(int shortStepMs, int eraseMs)
    {
        shortStepTimeoutMs_ = shortStepMs;
        eraseTimeoutMs_ = eraseMs;
    }

    // Asked right before the unmount: a take that started while the
    // confirmation was open must not lose its backup drive mid-take.
    void setTakeActiveCheck(std::function<bool()> takeActive) { takeActive_ = std::move(takeActive); }

    enum class Step { Unmount, Erase, Mount };
    // Told before each step starts, so a person can see which one is under way.
    void setStepObserver(std::function<void(Step)> observer) { stepObserver_ = std::move(observer); }

    // Where the formatted volume will be mounted: the parent folder of
    // `rootPath` followed by "Tonvale".
    static std::string mountPathFor(const std::string& rootPath);

    // The "Format Failed" box text, with the run's reason.
    static std::string failureText(const std::string& rootPath, const std::string& reason);

    // Refuses the system root, a volume outside the volumes roots and a
    // volume without a device.
    Result format(const MountedVolume& volume) const;

private:
    struct Run {
        bool ok = false;
        std::string reason;
    };
    Run run(const std::string& program, const std::vector<std::string>& arguments, int timeoutMs) const;
    void enterStep(Step step) const
    {
        if (stepObserver_)
            stepObserver_(step);
    }

    Programs programs_;
    std::function<bool()> takeActive_;
    std::function<void(Step)> stepObserver_;
    int shortStepTimeoutMs_ = 5000;
    int eraseTimeoutMs_ = 60000;
};
