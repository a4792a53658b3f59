#include "LogBufferPace.h"

namespace {

// Fewer characters than this mostly time the fixed cost of a catch-up, not its characters.
const int64_t SmallestSample = 4096;
// A stalled machine or an idle one should move the pace, not throw it to either end.
const double SlowestPace = 100.0, FastestPace = 0.001;

}  // namespace

void LogBufferPace::Learn(int64_t characters, double microseconds)
{
    if (characters < SmallestSample || microseconds < 0)
        return;
    double sample = microseconds / double(characters);
    if (sample > SlowestPace)
        sample = SlowestPace;
    if (sample < FastestPace)
        sample = FastestPace;
    // the last few catch-ups count, so that a passing stall does not shrink the ticks for long
    pace += (sample - pace) / 4;
}

int64_t LogBufferPace::CharactersWithin(double microseconds) const
{
    return microseconds <= 0 ? 0 : int64_t(microseconds / pace);
}
