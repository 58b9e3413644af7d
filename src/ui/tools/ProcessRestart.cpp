#include "ui/tools/ProcessRestart.h"

#include <QProcess>

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
    return QProcess::startDetached(QStringLiteral("/bin/sh"), shellArguments);
}
