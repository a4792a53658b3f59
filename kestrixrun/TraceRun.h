// One capture from the command line: the layer installed and the control block published, the
// program started (or the next process awaited), its records written as they arrive, and
// everything taken down again when it has detached, died, or the user pressed Ctrl+C.
#pragma once
#include <windows.h>

#include "Arguments.h"

// What a run that could not trace exits with; a traced run exits with the program's own code.
const int RunFailedExitCode = 1;

// Runs the capture; its messages go to standard error. Returns the exit code.
int RunTrace(const RunOptions& options);
