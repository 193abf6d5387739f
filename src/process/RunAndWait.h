#pragma once

#include "common/ToolRunner.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace jarseal {
namespace Module1 {

// Splits a Windows-style command line into the program and its arguments
// (program first), the way a Windows program started with it would see it:
//
// - Blanks and tabs before the program are skipped. The program name ends at
//   the first blank or tab outside double quotes; quotes in it only switch
//   quoting on and off and are dropped, backslashes are always literal.
// - Arguments follow the rules of the Microsoft C runtime (2008 and later):
//   arguments are separated by runs of blanks and tabs outside quotes;
//   2n backslashes before a double quote give n backslashes and the quote
//   switches quoting; 2n+1 backslashes before a quote give n backslashes and
//   a literal quote; backslashes not followed by a quote are literal; inside
//   a quoted stretch, "" gives one literal quote and quoting goes on.
//   "" on its own is an empty argument.
// A line that is empty or holds only blanks and tabs gives no elements.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Starts the program named at the start of the command line (see
// SplitCommandLine), waits for it to end without a time limit and returns its
// exit code. The program is looked up on PATH unless its name contains a '/';
// a name ending in ".exe" that is not found is tried again without it, so
// "java.exe" runs java. The program is started directly, without a shell,
// with this program's environment, working folder and standard handles and no
// other open files.
//
// Returns the exit code (0-255), 128 + the signal number for a program ended
// by a signal, or -1 when no program could be started (empty command line,
// program not found or not executable). Never throws, never shows anything.
std::int32_t RunAndWait(const std::string& commandLine);

using jarseal::RunOutput;

// The JAD tool ("java[.exe] -jar FOLDER/jadtool.jar ...", args as
// SplitCommandLine gives them) starts several times faster from the class
// archive the build makes for it, FOLDER/jadtool.jsa. Its launcher options
// for such a command line, or "" (another program, no archive, or options of
// the user's own in the environment). They reach the launcher through
// kLaunchOptionsVariable, and the launcher's notice about that variable,
// kLaunchOptionsNotice followed by the options, is kept from the output.
inline constexpr const char* kLaunchOptionsVariable = "JDK_JAVA_OPTIONS";
inline constexpr const char* kLaunchOptionsNotice = "NOTE: Picked up JDK_JAVA_OPTIONS: ";
std::string JadToolLaunchOptions(const std::vector<std::string>& args);

inline constexpr std::size_t kCaptureLimit = 64 * 1024;

// Like RunAndWait, but the program's standard output and standard error go
// into one pipe; everything read from it is passed on to this program's
// standard error (so a terminal still shows it) and the last kCaptureLimit
// bytes are kept for failure messages. Standard input is inherited. A JAD
// tool run gets the options of JadToolLaunchOptions.
RunOutput RunAndWaitCapture(const std::string& commandLine);
// Whether RunAndWaitCapture passes what it captures on to standard error
// (the default). A program whose messages carry the captured output of a
// failed run, as jarseal-cli's do, turns it off so nothing is said twice.
void PassCapturedOutputThrough(bool pass);
bool CapturedOutputPassedThrough();

// Starts a program (args as SplitCommandLine gives them, looked up as
// RunAndWait does) without waiting: inFd becomes its standard input and
// outFd its standard output; standard error is inherited; the descriptors
// of passOn become its descriptors 3, 4, ... in their order; every other
// descriptor is closed in it. Returns the process id, or -1 when it could not
// be started. The caller waits for it.
pid_t StartWithPipes(std::vector<std::string> args, int inFd, int outFd, const std::vector<int>& passOn = {});

} // namespace Module1

using Module1::CapturedOutputPassedThrough;
using Module1::kCaptureLimit;
using Module1::PassCapturedOutputThrough;
using Module1::RunAndWait;
using Module1::RunAndWaitCapture;
using Module1::SplitCommandLine;
using Module1::StartWithPipes;

} // namespace jarseal
