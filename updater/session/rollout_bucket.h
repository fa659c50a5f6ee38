// This machine's place in a phased rollout: a number 0..99 drawn once, at
// random, and kept in HKCU\Software\Kelvo\Tovane as the DWORD RolloutBucket.
// A bucket that is there is never changed: a machine that was offered a
// release keeps being offered it while the rollout widens.
#pragma once

#include "failure.h"

namespace tovane {

// False when no bucket could be read or kept (why says so); the caller then
// holds a partial rollout back.
bool MachineRolloutBucket(unsigned* bucket, Failure* why);

}  // namespace tovane
