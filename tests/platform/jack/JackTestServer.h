#pragma once

#include <gtest/gtest.h>

#include <string>
#include <sys/types.h>

// A jackd of the test's own on the dummy back end (no sound card, no
// real-time scheduling), under a server name no other test uses. The
// destructor stops it in every path; a test whose server cannot start skips
// with jackd's own words (see TONVALE_REQUIRE_JACKD).
class JackTestServer {
public:
    struct Options {
        int sampleRate = 48000;
        int periodFrames = 256;
        int captureChannels = 4;
        int playbackChannels = 2;
    };

    JackTestServer();
    explicit JackTestServer(const Options& options);
    ~JackTestServer();

    JackTestServer(const JackTestServer&) = delete;
    JackTestServer& operator=(const JackTestServer&) = delete;

    bool isRunning() const { return pid_ > 0; }
    const std::string& name() const { return name_; }
    // Why the server did not start.
    const std::string& failure() const { return failure_; }

    // Kills the server outright (SIGKILL), as a crash would, and reaps it.
    void kill();
    // Asks the server to quit (SIGTERM); kills it when it does not.
    void stop();

private:
    void start(const Options& options);
    bool waitUntilReachable();
    void removeLeftovers() const;

    std::string name_;
    std::string logPath_;
    std::string failure_;
    pid_t pid_ = -1;
};

#define TONVALE_REQUIRE_JACKD(server)                                                              \
    do {                                                                                           \
        if (!(server).isRunning())                                                                 \
            GTEST_SKIP() << "SKIPPED: jackd could not start here, no JACK test ran: " << (server).failure(); \
    } while (0)
