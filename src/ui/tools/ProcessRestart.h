#pragma once

#include <QString>
#include <QStringList>

// Starts `program` with `arguments` once the process `waitForPid` has ended,
// or after `maxWaitSeconds` at the latest, through a small detached shell
// that outlives the caller. A restarting program passes its own id, so the
// new instance never meets the old one's single-instance lock.
// False when the shell could not be started.
bool startAfterProcessExits(qint64 waitForPid, const QString& program, const QStringList& arguments,
                            int maxWaitSeconds = 30);
