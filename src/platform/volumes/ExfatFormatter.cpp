#include "platform/volumes/ExfatFormatter.h"

#include <QDir>
#include <QProcess>

namespace {

ExfatFormatter::Programs& programsStore()
{
    static ExfatFormatter::Programs programs;
    return programs;
}

} // namespace

void ExfatFormatter::setDefaultPrograms(Programs programs)
{
    programsStore() = std::move(programs);
}

ExfatFormatter::Programs ExfatFormatter::defaultPrograms()
{
    return programsStore();
}

std::string ExfatFormatter::mountPathFor(const std::string& rootPath)
{
    std::string trimmed = rootPath;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : trimmed.substr(0, slash + 1);
    return parent + kLabel;
}

std::string ExfatFormatter::failureText(const std::string& rootPath, const std::string& reason)
{
    std::string text = "Failed to format " + rootPath +
                       ".\n\nThe volume may be in use, or Tonvale may lack the rights to unmount and format it.";
    if (!reason.empty())
        text += "\n\n" + reason;
    return text;
}

ExfatFormatter::Run ExfatFormatter::run(const std::string& program, const std::vector<std::string>& arguments,
                                        int timeoutMs) const
{
    QStringList args;
    for (const std::string& argument : arguments)
        args << QString::fromStdString(argument);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromStdString(program), args);
    if (!process.waitForStarted(timeoutMs))
        return {false, program + " could not be started: " + process.errorString().toStdString()};
    if (!process.waitForFinished(timeoutMs)) {
        // A hung erase or mount must not leave a process behind that still writes to the card.
        process.kill();
        process.waitForFinished(-1);
        const std::string limit = timeoutMs % 1000 == 0 ? std::to_string(timeoutMs / 1000) + " s"
                                                       : std::to_string(timeoutMs) + " ms";
        return {false, program + " was still running after " + limit + " and was stopped"};
    }
    const std::string output = process.readAll().trimmed().toStdString();
    if (process.exitStatus() != QProcess::NormalExit)
        return {false, program + " crashed" + (output.empty() ? "" : ": " + output)};
    if (process.exitCode() != 0)
        return {false, program + " failed with exit code " + std::to_string(process.exitCode()) +
                           (output.empty() ? "" : ": " + output)};
    return {true, {}};
}

ExfatFormatter::Result ExfatFormatter::format(const MountedVolume& volume) const
{
    Result result;
    if (volume.systemRoot || volume.rootPath == "/") {
        result.reason = "The system volume cannot be formatted.";
        return result;
    }
    if (!isUnderVolumesRoot(volume.rootPath)) {
        result.reason = volume.rootPath + " is not an external drive.";
        return result;
    }
    if (volume.device.empty()) {
        result.reason = "The device of " + volume.rootPath + " is unknown.";
        return result;
    }

    if (takeActive_ && takeActive_()) {
        result.reason = "A take is recording; stop it before formatting a drive.";
        return result;
    }

    enterStep(Step::Unmount);
    Run step = run(programs_.unmount, {volume.rootPath}, shortStepTimeoutMs_);
    if (!step.ok) {
        result.reason = step.reason;
        return result;
    }
    enterStep(Step::Erase);
    step = run(programs_.mkfs, {"-L", kLabel, volume.device}, eraseTimeoutMs_);
    if (!step.ok) {
        // mkfs may have written part of the volume before it failed.
        result.erased = true;
        result.reason = step.reason;
        return result;
    }
    result.erased = true;

    enterStep(Step::Mount);
    const std::string target = mountPathFor(volume.rootPath);
    if (!QDir().mkpath(QString::fromStdString(target))) {
        result.reason = "Cannot create the mount point " + target;
        return result;
    }
    step = run(programs_.mount, {"-t", "exfat", volume.device, target}, shortStepTimeoutMs_);
    if (!step.ok) {
        // Kernels without the exfat module mount it through FUSE.
        const Run fuse = run(programs_.fuseMount, {volume.device, target}, shortStepTimeoutMs_);
        if (!fuse.ok) {
            result.reason = "Formatted, but could not be mounted: " + step.reason + "; " + fuse.reason;
            return result;
        }
    }
    result.ok = true;
    result.mountedPath = target;
    return result;
}
