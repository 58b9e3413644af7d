#pragma once

#include <map>
#include <mutex>
#include <string>

// The process-wide settings store: one table of text keys to text values,
// loaded from and saved to $HOME/.config/Tonvale/config.ini.
//
// Threads: every operation takes the one (non-recursive) mutex for its whole
// duration, file I/O included, so any thread may use the store. The real-time
// audio thread never calls it.
//
// File format: "# Tonvale Configuration", an empty line, then key=value lines
// in byte order of the keys. Keys and values are stored without escaping, so a
// key or value holding a line break (or a key holding "=") would read back as
// other keys; setters refuse those with a log line and keep the old entry.
class ConfigManager {
public:
    static ConfigManager* getInstance();

    // Merges the file (the default path when `path` is empty) into the table.
    // False when the file cannot be opened.
    bool loadConfig(const std::string& path);
    // Writes the whole table through a temporary file and a rename. With an
    // empty path and nothing modified it writes nothing and returns true.
    bool saveConfig(const std::string& path);

    void setString(const std::string& key, const std::string& value);
    void setInt(const std::string& key, int value);
    void setFloat(const std::string& key, float value);
    void setBool(const std::string& key, bool value);

    std::string getString(const std::string& key, const std::string& defaultValue) const;
    int getInt(const std::string& key, int defaultValue) const;
    float getFloat(const std::string& key, float defaultValue) const;
    bool getBool(const std::string& key, bool defaultValue) const;

    std::string getConfigPath() const;

    // The configuration file now holds what the next process must start with
    // (a loaded snapshot before a restart): from here on nothing is stored and
    // the configuration file is not written, so this process's shutdown (its
    // faders, its window geometry) cannot overwrite it.
    void sealForRestart();
    bool isSealedForRestart() const;

    // Tests only: back to the state of a fresh process (built-in entries,
    // nothing modified, default path worked out again from the current HOME).
    void resetForTests();

    ConfigManager(const ConfigManager&) = delete;
    ConfigManager& operator=(const ConfigManager&) = delete;

private:
    ConfigManager();
    ~ConfigManager();

    void fillBuiltInEntriesLocked();
    void storeLocked(const std::string& key, std::string value);
    const std::string* findLocked(const std::string& key) const;

    mutable std::mutex mutex_;
    std::map<std::string, std::string> entries_;
    std::string defaultPath_;
    bool modified_ = false;
    bool sealed_ = false;
};
