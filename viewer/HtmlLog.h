// The text of an HTML log file: its header and footer, the class of each line kind, escaping.
// Pure text code: no window or kernel calls.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

extern const char* const HtmlHeaderLines[];
extern const size_t HtmlHeaderLineCount;

// The span class of a line kind; empty for a kind that has none.
const char* HtmlClassOf(int32_t kind);

// Appends text[0..length) escaped for HTML: < > & as entities, the second and later spaces of a
// run as &nbsp;, and "<br />" before every CR.
void AppendHtmlEscaped(std::string& out, const char* text, size_t length);

// True when the name's extension (after the last dot of its last path part) is .htm or .html,
// in any case.
bool IsHtmlFileName(const char* name);
