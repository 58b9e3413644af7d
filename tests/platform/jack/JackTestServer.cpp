#include "platform/jack/JackTestServer.h"

#include "platform/audio/JackServerLink.h"

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr std::chrono::seconds kStartTimeout{10};
constexpr std::chrono::milliseconds kStartPoll{20};
constexpr std::chrono::seconds kStopTimeout{5};

std::string uniqueName()
{
    static std::atomic<int> counter{0};
    return "tonvale-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Waits for the child to end, at most `timeout`; true when it did.
bool reap(pid_t pid, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || done < 0)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

JackTestServer::JackTestServer() : JackTestServer(Options{}) {}

JackTestServer::JackTestServer(const Options& options) : name_(uniqueName())
{
    start(options);
}

JackTestServer::~JackTestServer()
{
    stop();
    std::error_code ignored;
    std::filesystem::remove(logPath_, ignored);
}

void JackTestServer::start(const Options& options)
{
    logPath_ = (std::filesystem::temp_directory_path() / (name_ + ".log")).string();
    const std::vector<std::string> args = {"jackd", "--no-realtime", "--silent", "-d", "dummy",
                                           "-r", std::to_string(options.sampleRate),
                                           "-p", std::to_string(options.periodFrames),
                                           "-C", std::to_string(options.captureChannels),
                                           "-P", std::to_string(options.playbackChannels)};
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // The server takes its name from the environment, as every client of it does.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::string(*entry).rfind("JACK_DEFAULT_SERVER=", 0) != 0)
            environment.emplace_back(*entry);
    }
    environment.push_back("JACK_DEFAULT_SERVER=" + name_);
    std::vector<char*> envp;
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "jackd", &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        failure_ = "jackd is not installed (the jackd2 package)";
        return;
    }
    pid_ = pid;
    if (!waitUntilReachable()) {
        stop();
        std::ostringstream reason;
        reason << "jackd did not answer within " << kStartTimeout.count() << " s: " << readFile(logPath_);
        failure_ = reason.str();
    }
}

bool JackTestServer::waitUntilReachable()
{
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::string error;
        if (jack_client_t* client = JackServerLink::openClient(name_, "tonvale-probe", error)) {
            jack_client_close(client);
            return true;
        }
        std::this_thread::sleep_for(kStartPoll);
    }
    return false;
}

void JackTestServer::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    reap(pid_, kStopTimeout);
    pid_ = -1;
    removeLeftovers();
}

void JackTestServer::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    if (!reap(pid_, kStopTimeout)) {
        ::kill(pid_, SIGKILL);
        reap(pid_, kStopTimeout);
    }
    pid_ = -1;
    removeLeftovers();
}

// A killed server leaves its sockets and shared memory behind; they carry
// the server's name, which no other test uses.
void JackTestServer::removeLeftovers() const
{
    std::error_code ignored;
    const std::vector<std::filesystem::path> roots = {"/dev/shm", "/dev/shm/jack-" + std::to_string(::getuid())};
    for (const std::filesystem::path& root : roots) {
        for (const auto& entry : std::filesystem::directory_iterator(root, ignored)) {
            if (entry.path().filename().string().find(name_) != std::string::npos)
                std::filesystem::remove_all(entry.path(), ignored);
        }
    }
}
