#pragma once

#include <cstdint>
#include <string>

namespace jarseal {

// What an external program printed, beside its exit code.
struct RunOutput {
    std::int32_t exitCode; // 0-255, 128 + signal number, or -1 when it could not be started
    std::string output;    // standard output and error interleaved; the last kCaptureLimit bytes
};

// Runs the external tools of a job. A job without one runs each command line
// as a process of its own; a batch may hand in a runner that keeps a tool
// warm between packages, with the same inputs, outputs and exit codes.
class ToolRunner {
  public:
    virtual ~ToolRunner() = default;
    virtual RunOutput Run(const std::string& commandLine) = 0;
};

} // namespace jarseal
