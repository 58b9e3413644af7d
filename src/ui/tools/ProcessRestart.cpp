#include "ui/tools/ProcessRestart.h"

#include <QProcess>
#include <QProcessEnvironment>

bool startAfterProcessExits(qint64 waitForPid, const QString& program, const QStringList& arguments, int maxWaitSeconds)
{
    // $1 = the process to outlive, $2 = tenths of a second to wait at most,
    // then the program and its arguments.
    static const QString script = QStringLiteral(
        "i=0; while kill -0 \"$1\" 2>/dev/null && [ \"$i\" -lt \"$2\" ]; do sleep 0.1; i=$((i+1)); done; "
        "shift 2; exec \"$@\"");
    QStringList shellArguments = {QStringLiteral("-c"), script, QStringLiteral("tonvale-restart"),
                                  QString::number(waitForPid), QString::number(maxWaitSeconds * 10), program};
    shellArguments += arguments;
    // The old process may still hold its lock when the wait above gives up
    // (or sees it as a zombie not yet reaped): the new one learns whom it
    // replaces and waits for the lock itself.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kReplacedProcessVariable), QString::number(waitForPid));
    QProcess shell;
    shell.setProgram(QStringLiteral("/bin/sh"));
    shell.setArguments(shellArguments);
    shell.setProcessEnvironment(environment);
    return shell.startDetached();
}

qint64 takeReplacedProcessId()
{
    const QByteArray value = qgetenv(kReplacedProcessVariable);
    qunsetenv(kReplacedProcessVariable);
    bool ok = false;
    const qint64 pid = value.toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}
