#include "support/XvfbServer.h"

#include <QStandardPaths>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

bool XvfbServer::start(const std::string& screen, const std::vector<std::string>& extraArguments, std::string& error)
{
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty()) {
        error = "Xvfb is not installed";
        return false;
    }
    int displayPipe[2];
    if (pipe(displayPipe) != 0) {
        error = "no pipe for Xvfb";
        return false;
    }
    // -displayfd: the server picks a free display and writes its number.
    std::vector<std::string> arguments = {xvfb.toStdString(), "-displayfd", std::to_string(displayPipe[1]),
                                          "-screen", "0", screen, "-nolisten", "tcp"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(displayPipe[0]);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        dup2(devNull, STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(displayPipe[1]);
    if (pid_ < 0) {
        close(displayPipe[0]);
        error = "fork failed";
        return false;
    }
    std::string number;
    pollfd wait{displayPipe[0], POLLIN, 0};
    char c = 0;
    while (poll(&wait, 1, 10000) == 1 && read(displayPipe[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(displayPipe[0]);
    if (number.empty()) {
        stop();
        error = "Xvfb did not start";
        return false;
    }
    display_ = ":" + number;
    return true;
}

void XvfbServer::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    display_.clear();
}
