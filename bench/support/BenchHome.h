#pragma once

#include "core/ConfigManager.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

// A temporary HOME for one benchmark run, so its settings, log and takes stay
// out of the user's configuration and recordings. Removed with everything in
// it when the benchmark ends, also on an early return.
class BenchHome {
public:
    BenchHome()
    {
        char pattern[] = "/tmp/tonvale-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return;
        path_ = pattern;
        setenv("HOME", pattern, 1);
        ConfigManager::getInstance()->resetForTests();
    }

    ~BenchHome()
    {
        if (path_.empty())
            return;
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }

    BenchHome(const BenchHome&) = delete;
    BenchHome& operator=(const BenchHome&) = delete;

    bool isValid() const { return !path_.empty(); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};
