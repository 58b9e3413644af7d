#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// Starts a stand-in recorder program, waits until it prints "ready <bytes>"
// (everything it will write is on disk), then kills it with SIGKILL, as a
// power cut or a crash would. Returns the byte count it reported, or -1 after
// adding a test failure that says why (with the recorder's standard error).
int64_t recordAndKill(const QString& program, const QStringList& arguments);
