#pragma once

#include "common/Errors.h"
#include "common/UserInterface.h"

#include <new>
#include <stdexcept>

namespace jarseal {

// Failure numbers for failures that are not file operations.
inline constexpr int kErrOutOfMemory = 7;
inline constexpr int kErrInternal = 51;

// Runs one step of a pipeline: a file-not-found failure is stepped over and
// the pipeline goes on with its next step; any other failure passes on.
template <class Step> void StepOverMissing(Step&& step) {
    try {
        step();
    } catch (const RunError& e) {
        if (e.Number() != kErrFileNotFound)
            throw;
    }
}

// Runs a whole pipeline: any failure that reaches here shows the
// unforeseen-failure message and ends the program, however it was started.
template <class Pipeline> void RunWithFailurePolicy(UserInterface& ui, Pipeline&& pipeline) {
    int number = 0;
    try {
        pipeline();
        return;
    } catch (const RunError& e) {
        number = e.Number();
    } catch (const std::bad_alloc&) {
        number = kErrOutOfMemory;
    } catch (const std::exception&) {
        number = kErrInternal;
    }
    ui.ShowMessage(UnforeseenFailureText(number), MessageIcon::Stop);
    ui.EndProgram(kExitUnforeseen);
}

} // namespace jarseal
