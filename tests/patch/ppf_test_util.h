#pragma once

// Shared by the PPF tests: running the built ppf tool, and small file helpers.

#include "ppf_writer.h"

#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

namespace zandrel::patch::testing {

struct ToolResult {
    bool finished = false;  // false: still running after the timeout (then killed)
    int exitCode = -1;
    std::string out;
    std::string err;
};

struct ToolEnvironment {
    QString program;                  // the tool to run; empty: the built one
    QString winePrefix;               // WINEPREFIX for the child, when set
    std::uint64_t fileSizeLimit = 0;  // RLIMIT_FSIZE for the child (stands in for a full disk)
    // The child's standard output: read by the test, closed, or a pipe nobody reads any more.
    enum class Output { Read, Closed, BrokenPipe } output = Output::Read;
};

// Runs the built tool with these arguments. Its standard input stays open and empty, so a
// tool that waited for an answer would show up as not finished.
ToolResult runTool(const QStringList& args, const ToolEnvironment& env = {});

ByteVector readFile(const QString& path);
void writeFile(const QString& path, const ByteVector& bytes);
ByteVector randomBytes(std::size_t size, std::uint32_t seed);
// Temporary files and staging folders a patch run leaves in a folder (there should be none).
QStringList leftoverTemporaries(const QString& folder);

}  // namespace zandrel::patch::testing
