#include "CaptureLines.h"

const char* const WaitingStatusText = "the next process to start and make a socket call will be spyed";
const char* const StoppedByUserText = "stopped by user";
const char* const OutOfMemoryText = "out of memory";
const char* const SpiedProcessEndedText = "the spied process ended without detaching";
