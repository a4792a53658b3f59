// How fast the log buffer takes text in, learned from what the display brings in, so that a
// display tick can keep its work within a time on any machine and for any mix of lines: under
// Wine a character costs about a microsecond, far less on Windows, and a line of its own colour
// costs more than one of a long run.
#pragma once
#include <cstdint>

class LogBufferPace {
public:
    // Bringing characters in, with the trimming that made room for them, took microseconds.
    void Learn(int64_t characters, double microseconds);
    // The characters that fit in microseconds at the pace learned so far.
    int64_t CharactersWithin(double microseconds) const;
    double MicrosecondsPerCharacter() const { return pace; }

private:
    double pace = 1.0;
};
