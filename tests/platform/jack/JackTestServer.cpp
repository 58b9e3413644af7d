#include "platform/jack/JackTestServer.h"

#include "platform/audio/JackServerLink.h"

#include <jack/jack.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/prctl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr std::chrono::seconds kStartTimeout{10};
constexpr std::chrono::milliseconds kStartPoll{20};
constexpr std::chrono::seconds kStopTimeout{5};
constexpr size_t kShownLogChars = 1500;

// JACK keeps its servers in a registry of eight entries per user and
// reclaims a dead server's entry only for a server of the same name. A
// server that was killed (as the tests do) leaves its entry behind, so the
// tests take their names from a pool of eight: a name in use by a running
// test is skipped (each name has a lock file its test holds, which the
// system releases when the test ends in any way), a dead one is reclaimed.
constexpr int kNamePool = 8;

std::string poolName(int slot)
{
    return "tonvale-test-" + std::to_string(slot);
}

// Not under TMPDIR: tests give every test a TMPDIR of its own.
std::string lockPath(int slot)
{
    return "/tmp/" + poolName(slot) + ".lock";
}

std::string findJackd()
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / "jackd";
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate.string();
    }
    return std::string();
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

std::string jackTestClientName(const std::string& role)
{
    return role + "-" + std::to_string(::getpid());
}

JackTestServer::JackTestServer() : JackTestServer(Options{}) {}

JackTestServer::JackTestServer(const Options& options)
{
    failure_ = "every one of the " + std::to_string(kNamePool) + " test server names is in use";
    for (int slot = 0; slot < kNamePool; ++slot) {
        const int lock = ::open(lockPath(slot).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lock < 0)
            continue;
        if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
            ::close(lock);
            continue;
        }
        nameLock_ = lock;
        name_ = poolName(slot);
        // A server of that name started by somebody else refuses ours.
        if (start(options) || !nameTaken())
            return;
        ::close(nameLock_);
        nameLock_ = -1;
    }
}

JackTestServer::~JackTestServer()
{
    stop();
    std::error_code ignored;
    std::filesystem::remove(logPath_, ignored);
    if (nameLock_ >= 0)
        ::close(nameLock_);
}

bool JackTestServer::start(const Options& options)
{
    failure_.clear();
    logPath_ = (std::filesystem::temp_directory_path() / (name_ + ".log")).string();
    const std::vector<std::string> args = {"jackd", "--verbose", "-d", "dummy",
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

    const std::string program = findJackd();
    if (program.empty()) {
        failure_ = "jackd is not installed (the jackd2 package)";
        return false;
    }
    // A server of this name that is not ours (left by a test that was
    // killed) must not pass for ours: ours would fail, the clients reach it.
    std::string error;
    if (jack_client_t* foreign = JackServerLink::openClient(name_, jackTestClientName("probe"), error)) {
        jack_client_close(foreign);
        failure_ = "a server named " + name_ + " is already active";
        return false;
    }
    const int log = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The server dies with the test, whatever ends it (a sanitizer
        // halting on an error skips every destructor).
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (log >= 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (log >= 0)
        ::close(log);
    if (pid < 0) {
        failure_ = "cannot fork for jackd";
        return false;
    }
    pid_ = pid;
    if (!waitUntilReachable()) {
        stop();
        std::ostringstream reason;
        const std::string log = readFile(logPath_);
        reason << "jackd did not answer within " << kStartTimeout.count()
               << " s: " << log.substr(log.size() > kShownLogChars ? log.size() - kShownLogChars : 0);
        failure_ = reason.str();
        return false;
    }
    return true;
}

std::string JackTestServer::logTail() const
{
    const std::string log = readFile(logPath_);
    return log.substr(log.size() > kShownLogChars ? log.size() - kShownLogChars : 0);
}

bool JackTestServer::nameTaken() const
{
    return failure_.find("already active") != std::string::npos
           || failure_.find("Too many servers") != std::string::npos;
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
        if (jack_client_t* client = JackServerLink::openClient(name_, jackTestClientName("probe"), error)) {
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
