#pragma once

#include "common/PermissionChoice.h"
#include "common/Places.h"
#include "common/SettingsAccess.h"
#include "common/ToolRunner.h"
#include "common/UserInterface.h"

#include <functional>
#include <string>

namespace jarseal {

// How a job ended, as data beside its messages, for reports and scripts that
// must not read the messages' words (which follow the run's language).
struct JobOutcome {
    std::string reason;    // a stable key of why the job failed ("jar-missing"); empty: no failure told
    int installerCode = 0; // what a phone's installer would report (904-910; 1: a Symbian refusal); 0: none
    std::string jarSha1; // a signed suite's jar SHA-1 (20 bytes) as the job's check read it; empty: not known
};

// What every routine of a run needs to know about the program around it.
struct Context {
    UserInterface& ui;
    SettingsAccess& settings;
    const PermissionChoice& permissions;
    std::string programFolder;   // the executable's folder, no trailing separator
    std::string commandLine;     // the command-line text the program was started with
    ToolRunner* tools = nullptr; // runs the JAD tool; none: each command line as its own process
    Places places{};             // none given: those of a portable program folder
    // The Java job carries the attributes of the user's own earlier
    // descriptor that the new one would not have into the new one.
    bool keepDescriptorAttributes = false;
    // Told as the Java job reaches each of these steps; for tests that
    // change the user's files under a running job.
    enum class JavaStep { Unpacking, RewritingJar, Checking };
    std::function<void(JavaStep)> onJavaStep{};
    // The Symbian job removes every signature chain before signing.
    bool resignSymbian = false;
    // The Java job leaves the suite unsigned: the first descriptor and the
    // permission line, for phones that cannot hold the signer's root.
    bool unsignedSuite = false;
    // The job runs on a copy whose signed files go elsewhere (--out): the
    // user's own files stay as they are, and no backup is kept beside them.
    bool onCopy = false;
    // Where a job that fails in a foreseen way puts its reason's key and
    // installer code; none: not told.
    JobOutcome* outcome = nullptr;

    // Where the settings file, the default key store and the working folder are.
    Places Where() const { return places.settingsFile.empty() ? PortablePlaces(programFolder) : places; }
    // True when the program was started with a command-line text; each end of
    // a run then ends the program.
    bool StartedWithArgument() const { return !commandLine.empty(); }
    // Ends the program after a final message when started with an argument.
    void EndIfStartedWithArgument(int status) const {
        if (StartedWithArgument())
            ui.EndProgram(status);
    }
};

} // namespace jarseal
