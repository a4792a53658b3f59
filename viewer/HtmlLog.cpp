#include "HtmlLog.h"

#include "LineKind.h"

#include <cstring>
#include <strings.h>

const char* const HtmlHeaderLines[] = {
    "<html>",
    "<head>",
    "  <meta name=\"Generator\" content=\"Kestrix\">",
    "  <title>Kestrix Log File</title>",
    "  <style type=\"text/css\">",
    "    <!--",
    "    span {font-size: 10pt; font-family: \"Courier New\", Courier, monospace}",
    "    span.tsstart {color: green}",
    "    span.tsmsg {color: navy}",
    "    span.tsdata {color: black}",
    "    span.tserror {color: maroon}",
    "    body {background: white; margin-top: 0; margin-right: 0; margin-left: 0; margin-bottom: 0}",
    "    -->",
    "  </style>",
    "</head>",
    "<body>",
};
const size_t HtmlHeaderLineCount = sizeof HtmlHeaderLines / sizeof HtmlHeaderLines[0];

namespace {

struct KindClass {
    int32_t kind;
    const char* className;
};

const KindClass KindClasses[] = {
    {StatusLine, "tsstart"},
    {MessageLine, "tsmsg"},
    {DataLine, "tsdata"},
    {ErrorLine, "tserror"},
};

}  // namespace

const char* HtmlClassOf(int32_t kind)
{
    for (const KindClass& row : KindClasses)
        if (row.kind == kind)
            return row.className;
    return "";
}

void AppendHtmlEscaped(std::string& out, const char* text, size_t length)
{
    for (size_t i = 0; i < length; i++) {
        char c = text[i];
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '\r': out += "<br />\r"; break;
        case ' ':
            if (i > 0 && text[i - 1] == ' ')
                out += "&nbsp;";
            else
                out += ' ';
            break;
        default: out += c; break;
        }
    }
}

bool IsHtmlFileName(const char* name)
{
    const char* file = name;
    for (const char* p = name; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':')
            file = p + 1;
    const char* dot = strrchr(file, '.');
    return dot && (strcasecmp(dot, ".htm") == 0 || strcasecmp(dot, ".html") == 0);
}
