// What every sample shares: a line per step, a visible skip, and a stop at the first wrong
// result with a one-line reason and a non-zero exit code.
#pragma once

#include <winsock2.h>

// Longest wait for any single socket event; a whole sample stays within a few of these.
constexpr DWORD kWaitMs = 5000;

// Starts Winsock 2.2 and a watchdog that fails the sample when it runs longer than timeLimitMs.
void SampleStart(const char* name, DWORD timeLimitMs = 20000);
// Prints the closing line and stops Winsock; main returns its result.
int SampleFinish();

void Step(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Skip(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Fails with the formatted reason unless ok. A macro, so the reason's arguments are evaluated
// only after the condition, and only on failure: they often read what the condition's call set
// (the last error, an out parameter).
#define Check(ok, ...) ((ok) ? (void)0 : Fail(__VA_ARGS__))
// Fails unless result is SOCKET_ERROR with the last Winsock error equal to expected.
void CheckSocketError(int result, int expected, const char* what);
// Fails with the call name and the last Winsock error when result is SOCKET_ERROR.
int CheckSocketCall(int result, const char* what);
SOCKET CheckSocketHandle(SOCKET s, const char* what);

// "WSAECONNREFUSED (10061)"; unknown codes print as their number.
const char* WinsockErrorText(int error);
