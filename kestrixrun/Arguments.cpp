#include "Arguments.h"

#include <cstring>

#include "HtmlLog.h"

const char* const UsageText =
    "usage: kestrixrun [--detail low|medium|high] [--hex-only] [--output FILE] "
    "[--format text|html|jsonl|pcapng] [--wait] [--] program [arguments...]";

namespace {

struct Choice {
    const char* name;
    int value;
};

const Choice DetailChoices[] = {{"low", 0}, {"medium", 1}, {"high", 2}};
const Choice FormatChoices[] = {{"text", int(TraceFormat::Text)},
                                 {"html", int(TraceFormat::Html)},
                                 {"jsonl", int(TraceFormat::JsonLines)},
                                 {"pcapng", int(TraceFormat::Pcapng)}};
const int HighDetail = 2;
const char PcapngExtension[] = ".pcapng";
const char PcapngNeedsHighText[] =
    "--format pcapng needs --detail high: only High records carry the bytes that packets hold";
const char PcapngNeedsFileText[] =
    "--format pcapng needs --output FILE: the traced program writes on kestrixrun's standard output too";

bool EndsWith(const std::string& text, const char* ending)
{
    size_t length = strlen(ending);
    return text.size() >= length && _strnicmp(text.c_str() + text.size() - length, ending, length) == 0;
}

template <size_t N>
bool Choose(const Choice (&choices)[N], const std::string& name, int& value)
{
    for (const Choice& choice : choices)
        if (name == choice.name) {
            value = choice.value;
            return true;
        }
    return false;
}

}  // namespace

std::string ParseArguments(const std::vector<std::string>& arguments, RunOptions& options)
{
    options = RunOptions();
    bool formatGiven = false;
    size_t i = 0;
    for (; i < arguments.size(); i++) {
        const std::string& argument = arguments[i];
        if (argument == "--") {
            i++;
            break;
        }
        if (argument.rfind("--", 0) != 0)
            break;
        bool takesValue = argument == "--detail" || argument == "--output" || argument == "--format";
        if (takesValue && i + 1 == arguments.size())
            return argument + " needs a value";
        int value = 0;
        if (argument == "--detail") {
            if (!Choose(DetailChoices, arguments[++i], value))
                return "unknown detail level " + arguments[i];
            options.detail = value;
        } else if (argument == "--format") {
            if (!Choose(FormatChoices, arguments[++i], value))
                return "unknown format " + arguments[i];
            options.format = TraceFormat(value);
            formatGiven = true;
        } else if (argument == "--output") {
            options.output = arguments[++i];
            if (options.output.empty())
                return "--output needs a file name";
        } else if (argument == "--hex-only") {
            options.hexOnly = true;
        } else if (argument == "--wait") {
            options.wait = true;
        } else {
            return "unknown option " + argument;
        }
    }
    options.command.assign(arguments.begin() + long(i), arguments.end());
    if (options.wait && !options.command.empty())
        return "--wait takes no program";
    if (!options.wait && options.command.empty())
        return "no program to trace";
    if (!formatGiven && IsHtmlFileName(options.output.c_str()))
        options.format = TraceFormat::Html;
    if (!formatGiven && EndsWith(options.output, PcapngExtension))
        options.format = TraceFormat::Pcapng;
    if (options.format == TraceFormat::Pcapng && options.detail != HighDetail)
        return PcapngNeedsHighText;
    if (options.format == TraceFormat::Pcapng && options.output.empty())
        return PcapngNeedsFileText;
    return "";
}

std::string QuoteArgument(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            backslashes++;
            continue;
        }
        // backslashes before a quote are doubled, and the quote escaped
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    // backslashes before the closing quote are doubled too
    quoted.append(backslashes * 2, '\\');
    return quoted + '"';
}

std::string CommandLineOf(const std::vector<std::string>& command)
{
    std::string line;
    for (const std::string& argument : command) {
        if (!line.empty())
            line += ' ';
        line += QuoteArgument(argument);
    }
    return line;
}
