// A trace's lines as socket histories, so that two traces of the same program compare although
// threads interleave their sockets' lines differently from run to run.
#pragma once
#include <string>
#include <vector>

// One socket's lines from its first to its closing line, in order, its own number written as N,
// another socket's as M, ports as PORT. A close put off until the socket's overlapped calls have
// finished is written as the plain close: whether the application's close comes before the
// layer's worker has let go of a completed call is a matter of thread timing. Data lines (text lines and hex rows) follow the record
// they belong to, which the viewer writes with them in one piece.
using History = std::vector<std::string>;

// The lines of the calls that give a socket its addresses, its connection and its options.
bool IsConnectionOrControlLine(const std::string& line);

// The traced process's lines as socket histories, sorted: each socket's own course is fixed.
// Without withConnectionLines the lines of IsConnectionOrControlLine are left out.
std::vector<History> Histories(const std::vector<std::string>& lines, bool withConnectionLines = false);

// A log file's lines cut into those of each traced process, in order, each from its attach line.
std::vector<std::vector<std::string>> ProcessesOf(const std::vector<std::string>& lines);
