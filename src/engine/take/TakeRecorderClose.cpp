// The take close: on the ring writer thread, with the writer Finalizing, the
// take's writers are taken out of the engine and closed (which patches their
// RF64 sizes), late-armed tracks are finalized, files whose name fields
// changed during the take are renamed, and the files are handed to backup.
//
// Threads: closeRecordingFiles runs on the ring writer thread only;
// lastClosedTakeFiles on any thread. writersMutex_ and metadataMutex_ are
// held only while values are copied; files are closed and renamed with no
// recorder lock held.
#include "engine/take/TakeRecorder.h"

#include "core/DebugLog.h"
#include "engine/take/TakeRename.h"

#include <filesystem>
#include <system_error>

namespace {

std::string fileNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void closeWriter(BwfFileWriter& writer)
{
    const std::string path = writer.path();
    if (!writer.close())
        debugLog("CoreAudio: WARNING - Take file left unclosed (the repair scan can recover it): " + path + " ("
                 + writer.lastError() + ")");
}

// Renames the take's files to the name fields in force at stop; entries of
// closedFiles (and polyFilePath) follow their files.
void renameChangedTakeFiles(std::vector<std::string>& closedFiles, std::string& polyFilePath,
                            const std::string& takeFolder, const TakeMetadata& start, const TakeMetadata& effective)
{
    if (closedFiles.empty() || start.take.empty() || !takeNameFieldsDiffer(start, effective))
        return;
    const std::string folder = takeFolder.empty() ? folderOf(closedFiles.front()) : takeFolder;
    for (std::string& path : closedFiles) {
        if (path.empty())
            continue;
        const std::string newName = renamedTakeFileName(fileNameOf(path), start, effective);
        if (newName.empty())
            continue;
        const std::string newPath = folder + "/" + newName;
        if (newPath == path)
            continue;
        std::error_code error;
        if (!std::filesystem::exists(path, error)) {
            if (error)
                debugLog("CoreAudio: WARNING - Failed to rename file: " + error.message());
            continue;
        }
        // A rename never replaces another recording.
        if (std::filesystem::exists(newPath, error) || error) {
            debugLog("CoreAudio: WARNING - Failed to rename file: " + newPath
                     + (error ? " (" + error.message() + ")" : std::string(" already exists")));
            continue;
        }
        std::filesystem::rename(path, newPath, error);
        if (error) {
            debugLog("CoreAudio: WARNING - Failed to rename file: " + error.message());
            continue;
        }
        debugLog("CoreAudio: Renamed (metadata changed during record): " + path + " -> " + newPath);
        if (path == polyFilePath)
            polyFilePath = newPath;
        path = newPath;
    }
}

}  // namespace

void TakeRecorder::closeRecordingFiles()
{
    debugLog("CoreAudio: Closing recording files");
    std::unique_ptr<BwfFileWriter> poly;
    std::vector<std::unique_ptr<BwfFileWriter>> mono;
    std::vector<std::string> closedFiles;
    std::string polyFilePath;
    std::string takeFolder;
    {
        std::lock_guard<std::mutex> lock(writersMutex_);
        polyFilePath = polyFilePath_;
        takeFolder = takeFolder_;
        poly = std::move(polyWriter_);
        mono = std::move(monoWriters_);
        monoWriters_.clear();
        monoWriterTracks_.clear();
        if (poly && poly->isOpen())
            closedFiles.push_back(poly->path());
        for (const auto& writer : mono) {
            if (writer && writer->isOpen())
                closedFiles.push_back(writer->path());
        }
    }
    TakeMetadata start;
    TakeMetadata stop;
    {
        std::lock_guard<std::mutex> lock(metadataMutex_);
        start = startMetadata_;
        stop = stopMetadata_;
    }

    if (poly) {
        closeWriter(*poly);
        poly.reset();
        debugLog("CoreAudio: Closed polyphonic file");
    }
    for (auto& writer : mono) {
        if (writer)
            closeWriter(*writer);
    }
    mono.clear();

    finalizeLateArmTracks(closedFiles);
    const TakeMetadata effective = effectiveStopMetadata(start, stop);
    renameChangedTakeFiles(closedFiles, polyFilePath, takeFolder, start, effective);
    queueBackupCopies(closedFiles, polyFilePath, effective.project, effective.soundRoll);
    {
        std::lock_guard<std::mutex> lock(writersMutex_);
        lastClosedTakeFiles_ = closedFiles;
    }
    debugLog("CoreAudio: Recording files closed");
}

std::vector<std::string> TakeRecorder::lastClosedTakeFiles() const
{
    std::lock_guard<std::mutex> lock(writersMutex_);
    return lastClosedTakeFiles_;
}
