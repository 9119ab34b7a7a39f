// The program driver.
#pragma once

// The program: banner, definition, transport, targets, one update procedure per target, summary.
// Returns the process exit code: 0 when the target loop ended normally, 1 otherwise.
int ReflshMain(int argc, char** argv);

// The option step: the program has no options and never reads its arguments.
void ChkOption(int argc, char** argv);
