// The program's exit statuses, one place for all of them.
#pragma once

namespace kc {

inline constexpr int kExitClosed = 0;        // after the closing sequence
inline constexpr int kExitFatal = 1;         // start-up failure, Cancel, no device
inline constexpr int kExitUsage = 2;         // bad command line
inline constexpr int kExitOperatorDone = 3;  // the simulated technician's script ran out
inline constexpr int kExitInterrupted = 4;   // a close request; the closing sequence ran
// A second interrupt while the closing sequence ran: ended at once (128 plus
// SIGINT, as a shell reports a process that an interrupt ended).
inline constexpr int kExitInterruptedTwice = 130;

}  // namespace kc
