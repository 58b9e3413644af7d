#pragma once

#include <QString>
#include <QStringList>

// Set in the environment of a program started by startAfterProcessExits to
// the id of the process it replaces. A restarted Tonvale reads it to wait for
// the old instance's single-instance lock instead of refusing to start.
inline constexpr const char* kReplacedProcessVariable = "TONVALE_REPLACES_PID";

// Starts `program` with `arguments` once the process `waitForPid` has ended,
// or after `maxWaitSeconds` at the latest, through a small detached shell
// that outlives the caller. A restarting program passes its own id, so the
// new instance never meets the old one's single-instance lock.
// False when the shell could not be started.
bool startAfterProcessExits(qint64 waitForPid, const QString& program, const QStringList& arguments,
                            int maxWaitSeconds = 30);

// The id of the process this one was started to replace (from the variable
// above), or 0. The variable is removed, so programs this one starts do not
// inherit it.
qint64 takeReplacedProcessId();
