// The chain's text as one rich text (RTF) fragment, for the log buffer to take in one step: Wine's
// rich edit spends as long on each insertion as on a hundred or more characters, and a traced
// exchange alternates message lines and data lines, each batch its own colour. The fragment gives
// each batch its colour and ends its lines as paragraphs, and nothing else, so the text takes the
// rest of its format (font, size) from where it goes in, as a plain insertion does.
// Pure text code: no window or kernel calls.
#pragma once
#include <cstddef>
#include <cstdint>

#include "CatchUpPlan.h"

// At least the characters of the fragment for the chain from a batch and an offset in it on.
size_t RichTextCapacity(const ShownBatch* from, int32_t offset);

// Writes that fragment into out, which holds capacity characters; the text is in the ANSI code
// page given. Returns the fragment's length, or 0 when it cannot say the same as a plain
// insertion: the text holds a control character other than tab and its line ends, the chain more
// colours than a fragment names, or out is too small.
size_t WriteRichText(const ShownBatch* from, int32_t offset, unsigned codePage, char* out, size_t capacity);
