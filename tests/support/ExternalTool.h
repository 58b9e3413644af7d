#pragma once

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

// Tools nobody here wrote (ffprobe, sndfile-info, sox, mediainfo, xmllint)
// serve as outside oracles for the files we write.

// Full path of an installed program, or empty.
QString findTool(const QString& name);

struct ToolResult {
    bool started = false;
    int exitCode = -1;
    QString standardOutput;
    QString standardError;
};

// Runs a program to completion (at most timeoutMs) and collects its output.
ToolResult runTool(const QString& program, const QStringList& arguments, int timeoutMs = 60000);

// Skips the current test with a visible message when the tool is missing.
#define TONVALE_REQUIRE_TOOL(name)                                                                    \
    do {                                                                                              \
        if (findTool(name).isEmpty())                                                                 \
            GTEST_SKIP() << "SKIPPED: " << (name) << " is not installed; this outside check did not run"; \
    } while (0)
