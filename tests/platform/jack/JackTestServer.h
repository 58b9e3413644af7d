#pragma once

#include <gtest/gtest.h>

#include <string>
#include <sys/types.h>

// A jackd of the test's own on the dummy back end (no sound card; real-time
// scheduling where the machine grants it, none needed), under a server name
// no running test uses. The
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
    // What the server printed so far (its tail).
    std::string logTail() const;

    // Kills the server outright (SIGKILL), as a crash would, and reaps it.
    void kill();
    // Asks the server to quit (SIGTERM); kills it when it does not.
    void stop();

private:
    bool start(const Options& options);
    // The last start failed on the name (a server of that name runs).
    bool nameTaken() const;
    bool waitUntilReachable();
    void removeLeftovers() const;

    std::string name_;
    std::string logPath_;
    std::string failure_;
    pid_t pid_ = -1;
    int nameLock_ = -1;
};

// A JACK client name of this test process's own: the library names client
// sockets after the client and the user, so clients of one name on two
// servers (tests running side by side) would take each other's socket.
std::string jackTestClientName(const std::string& role);

#define TONVALE_REQUIRE_JACKD(server)                                                              \
    do {                                                                                           \
        if (!(server).isRunning())                                                                 \
            GTEST_SKIP() << "SKIPPED: jackd could not start here, no JACK test ran: " << (server).failure(); \
    } while (0)
