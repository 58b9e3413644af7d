#include "engine/take/TakeNaming.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/MediaKeys.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <mutex>

namespace {

constexpr int kLettersInAlphabet = 26;
constexpr int kLetterCombinations = kLettersInAlphabet * kLettersInAlphabet * kLettersInAlphabet;
constexpr const char* kSystemdMachineIdPath = "/etc/machine-id";
constexpr const char* kDbusMachineIdPath = "/var/lib/dbus/machine-id";

std::once_flag prefixOnce;
std::string processPrefix;

bool isAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string trimmed(const std::string& text)
{
    const char* space = " \t\r\n";
    const size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::string readWholeFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr)
        return {};
    std::string content;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        content.append(buffer, got);
    std::fclose(file);
    return content;
}

std::string hostName()
{
    char buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0)
        return {};
    return buffer;
}

int letterValue(char c)
{
    return (c >= 'A' && c <= 'Z') ? c - 'A' : 0;
}

} // namespace

std::string takeNamePrefixFromIdentifier(const std::string& identifier)
{
    std::string prefix;
    for (char c : identifier) {
        if (prefix.size() == kTakeNamePrefixLength)
            break;
        if (isAsciiLetter(c))
            prefix += static_cast<char>(c & ~0x20); // ASCII upper case
    }
    prefix.resize(kTakeNamePrefixLength, 'A');
    return prefix;
}

std::string formatTakeName(const std::string& prefix, int fileNumber)
{
    const std::string letters = takeNamePrefixFromIdentifier(prefix);
    // 64-bit so that the letter step cannot overflow for any int counter.
    const int64_t zeroBased = int64_t(fileNumber) - 1;
    const int64_t value = letterValue(letters[0]) * kLettersInAlphabet * kLettersInAlphabet +
                          letterValue(letters[1]) * kLettersInAlphabet + letterValue(letters[2]) +
                          zeroBased / kTakeNameDigitsPerLetterStep;
    const int64_t wrapped = ((value % kLetterCombinations) + kLetterCombinations) % kLetterCombinations;
    const int digits = static_cast<int>(zeroBased % kTakeNameDigitsPerLetterStep) + 1;

    char name[16];
    std::snprintf(name, sizeof name, "%c%c%c%04d", char('A' + wrapped / (kLettersInAlphabet * kLettersInAlphabet)),
                  char('A' + (wrapped / kLettersInAlphabet) % kLettersInAlphabet),
                  char('A' + wrapped % kLettersInAlphabet), digits);
    return name;
}

std::string generateTakeName(const std::string& prefix)
{
    ConfigManager* config = ConfigManager::getInstance();
    int fileNumber = config->getInt(MediaKeys::kFileNumber, MediaKeys::kFileNumberDefault);
    if (fileNumber < 1) {
        // A hand-edited counter below 1 would give "0000" or a minus sign
        // inside the name; start the count again instead.
        debugLog("CoreAudio: recording.fileNumber " + std::to_string(fileNumber) + " is below 1, using 1");
        fileNumber = 1;
    }
    const std::string name = formatTakeName(prefix, fileNumber);
    const int next = fileNumber == INT_MAX ? 1 : fileNumber + 1;
    config->setInt(MediaKeys::kFileNumber, next);
    config->saveConfig("");
    return name;
}

std::string generateTakeName()
{
    return generateTakeName(takeNamePrefix());
}

void computeTakeNamePrefix()
{
    processPrefix = takeNamePrefixFromIdentifier(getMachineIdentifier());
}

const std::string& takeNamePrefix()
{
    std::call_once(prefixOnce, computeTakeNamePrefix);
    return processPrefix;
}

std::string machineIdentifierFrom(const std::vector<std::string>& identifierFiles, const std::string& host)
{
    for (const std::string& path : identifierFiles) {
        const std::string id = trimmed(readWholeFile(path));
        if (!id.empty())
            return id;
    }
    const std::string name = trimmed(host);
    return name.empty() ? kFallbackMachineIdentifier : name;
}

std::string getMachineIdentifier()
{
    return machineIdentifierFrom({kSystemdMachineIdPath, kDbusMachineIdPath}, hostName());
}

std::string drawUnusedTakeName(const TakeNameSource& draw, const TakeNameInUse& nameInUse, std::string& reason,
                               int maxDraws)
{
    for (int attempt = 0; attempt < maxDraws; ++attempt) {
        const std::string name = draw();
        if (!nameInUse(name))
            return name;
        debugLog("CoreAudio: Take name " + name + " is already in use, drawing the next name");
    }
    reason = "No unused take name found in " + std::to_string(maxDraws) + " draws";
    debugLog("CoreAudio: " + reason);
    return {};
}
