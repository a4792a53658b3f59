// The lines a capture writes of its own, beside those its records bring: the same words in the
// viewer and in kestrixrun, so that their log files agree.
#pragma once

extern const char* const WaitingStatusText;     // a status line
extern const char* const StoppedByUserText;     // an error line
extern const char* const OutOfMemoryText;       // an error line
extern const char* const SpiedProcessEndedText; // an error line
