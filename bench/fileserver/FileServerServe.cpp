// Serves a folder with the WebDAV server until SIGTERM or stdin closes, and
// watches what the GUI thread would feel: a 10 ms timer's longest stall and
// the process's peak resident memory growth. Printed on exit.
//
//   bench_fileserver_serve <folder> <port> <password>

#include "core/NumberText.h"
#include "fileserver/WebDavServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int signalPipe[2];

void onTerm(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <folder> <port> <password>\n", argv[0]);
        return 2;
    }
    if (::pipe(signalPipe) != 0)
        return 2;
    std::signal(SIGTERM, onTerm);
    std::signal(SIGINT, onTerm);
    QSocketNotifier quitNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&quitNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    WebDavServer server;
    server.setRootPath(QString::fromLocal8Bit(argv[1]));
    server.setCredentials(QString(), QString::fromLocal8Bit(argv[3]));
    if (!server.start(static_cast<quint16>(QString::fromLocal8Bit(argv[2]).toUInt()))) {
        std::fprintf(stderr, "server did not start\n");
        return 1;
    }
    const long startKiB = peakResidentKiB();

    QElapsedTimer sinceTick;
    qint64 longestStallMs = 0;
    // How often it stood still: a single long stall on a busy machine is the
    // scheduler's; many are ours.
    int stallsOver20Ms = 0;
    QTimer gui;
    gui.setTimerType(Qt::PreciseTimer);
    QObject::connect(&gui, &QTimer::timeout, [&] {
        const qint64 stallMs = sinceTick.restart() - 10;
        longestStallMs = std::max(longestStallMs, stallMs);
        stallsOver20Ms += stallMs > 20 ? 1 : 0;
    });
    sinceTick.start();
    gui.start(10);
    std::printf("ready\n");
    std::fflush(stdout);

    const int status = app.exec();
    // The bench script reads these lines: the growth keeps its full stop in any locale.
    std::printf("longest_gui_stall_ms %lld\nstalls_over_20_ms %d\npeak_memory_growth_mib %s\n",
                static_cast<long long>(longestStallMs), stallsOver20Ms,
                fixedText((peakResidentKiB() - startKiB) / 1024.0, 1).c_str());
    return status;
}
