#include "core/ConfigManager.h"

#include "core/DebugLog.h"
#include "core/NumberText.h"
#include "core/settings/AudioKeys.h"
#include "core/settings/MediaKeys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>

namespace {

const char* const kHeaderLine = "# Tonvale Configuration";
const char* const kRelativePath = "/.config/Tonvale/config.ini";
constexpr mode_t kConfigFileMode = 0600;

std::string pathFromHome()
{
    const char* home = std::getenv("HOME");
    return home == nullptr ? std::string() : std::string(home) + kRelativePath;
}

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

std::string readAll(std::FILE* file)
{
    std::string text;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    return text;
}

bool hasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

// Trailing spaces and tabs go from the key, leading ones from the value;
// everything else (a trailing carriage return included) stays as written.
bool parseLine(const std::string& line, std::string& key, std::string& value)
{
    if (line.empty() || line[0] == '#' || line[0] == ';')
        return false;
    const auto equals = line.find('=');
    if (equals == std::string::npos)
        return false;
    key = line.substr(0, equals);
    const auto keyEnd = key.find_last_not_of(" \t");
    key.erase(keyEnd == std::string::npos ? 0 : keyEnd + 1);
    value = line.substr(equals + 1);
    const auto valueStart = value.find_first_not_of(" \t");
    value.erase(0, valueStart == std::string::npos ? value.size() : valueStart);
    return true;
}

// Creates every folder above the file. A failure shows when the file itself
// cannot be opened, which is logged there.
void createParentFolders(const std::string& target)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(target).parent_path(), ignored);
}

} // namespace

ConfigManager* ConfigManager::getInstance()
{
    static ConfigManager instance;
    return &instance;
}

ConfigManager::ConfigManager()
    : defaultPath_(pathFromHome())
{
    fillBuiltInEntriesLocked();
}

ConfigManager::~ConfigManager()
{
    saveConfig("");
}

void ConfigManager::fillBuiltInEntriesLocked()
{
    entries_[AudioKeys::kBuiltInDriver] = "";
    entries_[AudioKeys::kBuiltInSampleRate] = "48000";
    entries_[AudioKeys::kBuiltInBufferSize] = "256";
    entries_[MediaKeys::kBuiltInFormat] = "0";
    entries_[MediaKeys::kBuiltInBitDepth] = "24";
    entries_[MediaKeys::kRecordingDirectory] = "";
}

void ConfigManager::resetForTests()
{
    std::lock_guard lock(mutex_);
    entries_.clear();
    fillBuiltInEntriesLocked();
    defaultPath_ = pathFromHome();
    modified_ = false;
    sealed_ = false;
}

void ConfigManager::sealForRestart()
{
    std::lock_guard lock(mutex_);
    sealed_ = true;
    modified_ = false;
}

bool ConfigManager::isSealedForRestart() const
{
    std::lock_guard lock(mutex_);
    return sealed_;
}

bool ConfigManager::loadConfig(const std::string& path)
{
    std::lock_guard lock(mutex_);
    std::FILE* file = std::fopen((path.empty() ? defaultPath_ : path).c_str(), "rbe");
    if (file == nullptr)
        return false;
    std::istringstream in(readAll(file));
    std::fclose(file);
    std::string line, key, value;
    while (std::getline(in, line)) {
        if (parseLine(line, key, value))
            entries_[key] = value;
    }
    modified_ = false;
    return true;
}

bool ConfigManager::saveConfig(const std::string& path)
{
    std::lock_guard lock(mutex_);
    if (path.empty() && !modified_)
        return true;
    if (sealed_ && (path.empty() || path == defaultPath_)) {
        debugLog("ConfigManager: configuration sealed for a restart, file not written");
        return true;
    }
    const std::string target = path.empty() ? defaultPath_ : path;
    if (target.empty())
        return false;
    createParentFolders(target);

    const std::string temporary = target + ".tmp";
    // The file holds the file server's password: only its owner may read it,
    // whatever the umask, and also when a leftover temporary file was wider.
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kConfigFileMode);
    if (fd < 0 || ::fchmod(fd, kConfigFileMode) != 0) {
        if (fd >= 0)
            ::close(fd);
        debugLog("ConfigManager: ERROR: cannot write " + temporary);
        return false;
    }
    std::string text = std::string(kHeaderLine) + "\n\n";
    for (const auto& [key, value] : entries_)
        text += key + '=' + value + '\n';
    const bool written = writeAll(fd, text);
    if (::close(fd) != 0 || !written) {
        std::remove(temporary.c_str());
        debugLog("ConfigManager: ERROR: failed writing " + temporary);
        return false;
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        std::remove(temporary.c_str());
        debugLog("ConfigManager: ERROR: cannot rename " + temporary + " to " + target);
        return false;
    }
    modified_ = false;
    return true;
}

void ConfigManager::storeLocked(const std::string& key, std::string value)
{
    if (sealed_) {
        debugLog("ConfigManager: configuration sealed for a restart, '" + key + "' not stored");
        return;
    }
    if (hasLineBreak(key) || key.find('=') != std::string::npos || hasLineBreak(value)) {
        debugLog("ConfigManager: WARNING: refused to store key '" + key +
                 "': keys and values may not contain line breaks, keys no '='");
        return;
    }
    entries_[key] = std::move(value);
    modified_ = true;
}

void ConfigManager::setString(const std::string& key, const std::string& value)
{
    std::lock_guard lock(mutex_);
    storeLocked(key, value);
}

void ConfigManager::setInt(const std::string& key, int value)
{
    std::lock_guard lock(mutex_);
    storeLocked(key, std::to_string(value));
}

void ConfigManager::setFloat(const std::string& key, float value)
{
    std::lock_guard lock(mutex_);
    storeLocked(key, fixedText(value, 6));
}

void ConfigManager::setBool(const std::string& key, bool value)
{
    std::lock_guard lock(mutex_);
    storeLocked(key, value ? "true" : "false");
}

const std::string* ConfigManager::findLocked(const std::string& key) const
{
    const auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

std::string ConfigManager::getString(const std::string& key, const std::string& defaultValue) const
{
    std::lock_guard lock(mutex_);
    const std::string* value = findLocked(key);
    return value ? *value : defaultValue;
}

int ConfigManager::getInt(const std::string& key, int defaultValue) const
{
    std::lock_guard lock(mutex_);
    const std::string* value = findLocked(key);
    if (!value)
        return defaultValue;
    // strtol skips leading white space, takes an optional sign and stops at
    // the first other character: "12.7" reads as 12, "42abc" as 42.
    const char* begin = value->c_str();
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX)
        return defaultValue;
    return static_cast<int>(parsed);
}

float ConfigManager::getFloat(const std::string& key, float defaultValue) const
{
    std::lock_guard lock(mutex_);
    const std::string* value = findLocked(key);
    if (!value)
        return defaultValue;
    // A number beyond the float range is as unusable as no number.
    double parsed = 0.0;
    if (!parseDecimal(*value, parsed)
        || (std::isfinite(parsed) && std::fabs(parsed) > std::numeric_limits<float>::max()))
        return defaultValue;
    return static_cast<float>(parsed);
}

bool ConfigManager::getBool(const std::string& key, bool defaultValue) const
{
    std::lock_guard lock(mutex_);
    const std::string* value = findLocked(key);
    if (!value)
        return defaultValue;
    return *value == "true" || *value == "1" || *value == "yes";
}

std::string ConfigManager::getConfigPath() const
{
    std::lock_guard lock(mutex_);
    return defaultPath_;
}
