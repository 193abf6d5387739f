#pragma once

namespace jarseal {

// Puts the calling thread into the idle scheduling class: it then runs only
// on a core no other thread wants, so work done ahead in the background never
// slows the programs the job waits for. Best effort; a refusal changes nothing.
void RunThisThreadWhenIdle();

} // namespace jarseal
