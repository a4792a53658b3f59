// kestrixrun's text code: its command line, the command line it gives the traced program, and
// the JSON lines, read back by an independent parser.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "Arguments.h"
#include "JsonCheck.h"
#include "JsonLines.h"
#include "LogRecord.h"

namespace {

struct ArgumentsCase {
    std::vector<std::string> arguments;
    int32_t detail;
    bool hexOnly;
    std::string output;
    TraceFormat format;
    bool wait;
    std::vector<std::string> command;
};

std::string Described(const std::vector<std::string>& arguments)
{
    std::string text;
    for (const std::string& argument : arguments)
        text += "[" + argument + "] ";
    return text;
}

TEST(Arguments, OptionsProgramAndMistakes)
{
    const TraceFormat Text = TraceFormat::Text, Html = TraceFormat::Html, Json = TraceFormat::JsonLines,
                      Pcapng = TraceFormat::Pcapng;
    const ArgumentsCase cases[] = {
        {{"a.exe"}, 2, false, "", Text, false, {"a.exe"}},
        {{"--detail", "low", "a.exe", "--detail", "x"}, 0, false, "", Text, false, {"a.exe", "--detail", "x"}},
        {{"--detail", "medium", "--hex-only", "--", "--a.exe"}, 1, true, "", Text, false, {"--a.exe"}},
        {{"--output", "t.HTM", "a.exe"}, 2, false, "t.HTM", Html, false, {"a.exe"}},
        {{"--output", "t.htm", "--format", "text", "a.exe"}, 2, false, "t.htm", Text, false, {"a.exe"}},
        {{"--format", "jsonl", "--output", "t.txt", "a.exe", "b c"}, 2, false, "t.txt", Json, false,
         {"a.exe", "b c"}},
        {{"--format", "html", "--wait"}, 2, false, "", Html, true, {}},
        {{"--format", "pcapng", "--output", "t.cap", "a.exe"}, 2, false, "t.cap", Pcapng, false, {"a.exe"}},
        {{"--output", "t.PcapNG", "--detail", "high", "a.exe"}, 2, false, "t.PcapNG", Pcapng, false, {"a.exe"}},
        {{"--output", "t.pcapng", "--format", "jsonl", "a.exe"}, 2, false, "t.pcapng", Json, false, {"a.exe"}},
    };
    for (const ArgumentsCase& c : cases) {
        std::string context = Described(c.arguments);
        RunOptions options;
        options.detail = 77;
        EXPECT_EQ("", ParseArguments(c.arguments, options)) << context;
        EXPECT_EQ(c.detail, options.detail) << context;
        EXPECT_EQ(c.hexOnly, options.hexOnly) << context;
        EXPECT_EQ(c.output, options.output) << context;
        EXPECT_EQ(int(c.format), int(options.format)) << context;
        EXPECT_EQ(c.wait, options.wait) << context;
        EXPECT_EQ(c.command, options.command) << context;
    }
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } mistakes[] = {
        {{}, "no program to trace"},
        {{"--hex-only", "--"}, "no program to trace"},
        {{"--wait", "a.exe"}, "--wait takes no program"},
        {{"--detail", "high"}, "no program to trace"},
        {{"--detail"}, "--detail needs a value"},
        {{"--detail", "max", "a.exe"}, "unknown detail level max"},
        {{"--format", "xml", "a.exe"}, "unknown format xml"},
        {{"--output", "", "a.exe"}, "--output needs a file name"},
        {{"--verbose", "a.exe"}, "unknown option --verbose"},
        {{"--format", "pcapng", "--detail", "medium", "--output", "t", "a.exe"},
         "--format pcapng needs --detail high: only High records carry the bytes that packets hold"},
        {{"--detail", "low", "--output", "t.pcapng", "a.exe"},
         "--format pcapng needs --detail high: only High records carry the bytes that packets hold"},
        {{"--format", "pcapng", "a.exe"},
         "--format pcapng needs --output FILE: the traced program writes on kestrixrun's standard output too"},
    };
    for (const auto& c : mistakes) {
        RunOptions options;
        EXPECT_EQ(c.error, ParseArguments(c.arguments, options)) << Described(c.arguments);
    }
}

std::string Narrow(const wchar_t* text)
{
    char narrow[1024];
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

// The traced program splits its command line as the system's own splitter does.
TEST(Arguments, TheProgramGetsItsArgumentsBack)
{
    const std::vector<std::string> command = {
        "prog.exe", "plain", "", "two words", "tab\there", "say \"hi\"", "C:\\dir\\", "C:\\my dir\\",
        "a\\\\\"b", "\\\"", "end\\\\",
    };
    std::string line = CommandLineOf(command);
    EXPECT_EQ(0u, line.rfind("prog.exe plain \"\" \"two words\" ", 0)) << line;
    std::wstring wide(line.size() + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, line.c_str(), -1, wide.data(), int(wide.size()));
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(wide.c_str(), &count);
    ASSERT_NE(nullptr, split);
    std::vector<std::string> back;
    for (int i = 0; i < count; i++)
        back.push_back(Narrow(split[i]));
    LocalFree(split);
    EXPECT_EQ(command, back) << line;
}

JsonObject Parsed(const std::string& line)
{
    EXPECT_EQ('\n', line.back());
    EXPECT_EQ(line.size() - 1, line.find('\n')) << "one line: " << line;
    JsonObject object;
    EXPECT_EQ("", ParseJsonObject(line.substr(0, line.size() - 1), object)) << line;
    return object;
}

TEST(JsonLines, MembersTextsAndBytes)
{
    TraceRecord status;
    status.seconds = 1.5;
    status.kind = TraceKind::Status;
    status.text = "waiting";
    status.textLength = 7;
    std::string line = JsonLineOf(status);
    EXPECT_EQ("{\"time\":1.500000,\"kind\":\"status\",\"text\":\"waiting\"}\n", line)
        << "no process, socket, count or data";

    const std::string text = "quote \" backslash \\ tab\t cr\r lf\n bell\x07 \xC3\xA9t\xC3\xA9 end";
    const std::string bytes("\x00\xFF\x10\x80 ab\r\n", 9);
    for (size_t length = 0; length <= bytes.size(); length++) {
        TraceRecord data;
        data.seconds = 0.0000015;
        data.processId = 4294967295u;
        data.kind = TraceKindOf(DataHeaderSize, RecordDataReceived);
        data.hasSocket = data.hasCount = true;
        data.socket = 0x80000001u;
        data.count = 70000;
        data.text = text.c_str();
        data.textLength = text.size();
        data.data = reinterpret_cast<const uint8_t*>(bytes.data());
        data.dataLength = length;
        JsonObject object = Parsed(JsonLineOf(data));
        EXPECT_EQ("0.000002", object["time"].text) << "microseconds";
        EXPECT_EQ("4294967295", object["pid"].text);
        EXPECT_EQ("data_received", object["kind"].text);
        EXPECT_EQ("2147483649", object["socket"].text) << "the handle as the layer gave it";
        EXPECT_EQ(70000, object["count"].number);
        EXPECT_EQ(text, object["text"].text);
        std::string decoded;
        EXPECT_TRUE(DecodeBase64(object["data"].text, decoded)) << object["data"].text;
        EXPECT_EQ(bytes.substr(0, length), decoded) << "length " << length;
    }
}

TEST(JsonLines, KindNames)
{
    const struct {
        uint32_t payloadLength, kind;
        const char* name;
    } cases[] = {
        {4, RecordProcessAttached, "process_attached"}, {8, RecordSocketCreated, "socket_created"},
        {8, RecordSocketClosed, "socket_closed"},       {12, RecordDataSent, "data_sent"},
        {12, RecordDataReceived, "data_received"},      {4, RecordProcessDetached, "process_detached"},
        {0, RecordDataSent, "message"},                 {4, 6, "message"},
        {4, 0xFFFFFFFF, "message"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(c.name, JsonKindName(TraceKindOf(c.payloadLength, c.kind))) << c.payloadLength << " " << c.kind;
}

}  // namespace
