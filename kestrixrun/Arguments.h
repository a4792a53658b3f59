// kestrixrun's command line: its options, the program to trace and that program's own command
// line. Pure text code: no window or kernel calls.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

extern const char* const UsageText;

enum class TraceFormat { Text, Html, JsonLines, Pcapng };

struct RunOptions {
    int32_t detail = 2;           // 0 Low, 1 Medium, 2 High
    bool hexOnly = false;
    std::string output;           // empty: standard output
    TraceFormat format = TraceFormat::Text;
    bool wait = false;            // trace the next process that makes a socket call
    std::vector<std::string> command;   // the program and its arguments; empty with --wait
};

// Parses the arguments after the program name. Returns "" or what is wrong with them. Without
// --format, an output file named .htm or .html is written as HTML, as the viewer does, and one
// named .pcapng as pcapng. A pcapng file needs High, the only level whose records carry bytes,
// and a file of its own, since the traced program shares kestrixrun's standard output.
std::string ParseArguments(const std::vector<std::string>& arguments, RunOptions& options);

// One argument as the C runtime of the started program splits it again: quoted when it holds a
// space, a tab or a quote, or is empty, with backslashes doubled where a quote follows them.
std::string QuoteArgument(const std::string& argument);
std::string CommandLineOf(const std::vector<std::string>& command);
