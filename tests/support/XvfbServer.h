#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// An X server (Xvfb) for one test process on a display number of its own,
// chosen by the server. It ends with stop(), the destructor, or the death of
// the process that started it.
class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer() { stop(); }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // False with `error` set when Xvfb is missing or did not come up.
    // `screen` as Xvfb takes it ("1280x1024x24"); further server arguments
    // (key repeat, ...) in `extraArguments`.
    bool start(const std::string& screen, const std::vector<std::string>& extraArguments, std::string& error);
    void stop();

    // ":N", empty before a successful start.
    const std::string& display() const { return display_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};
