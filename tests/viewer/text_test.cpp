// Byte-to-text code of the viewer, byte for byte: hex rows, line splitting, the HTTP test, HTML
// escaping, count display, setting choices and hints, and the log buffer's catch-up plan.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CatchUpPlan.h"
#include "CountFormat.h"
#include "HexDump.h"
#include "HtmlLog.h"
#include "LogBufferPace.h"
#include "RichTextFragment.h"
#include "SettingChoices.h"
#include "TextLines.h"

namespace {

std::string Bytes(std::initializer_list<int> values)
{
    std::string bytes;
    for (int value : values)
        bytes += char(value);
    return bytes;
}

std::string Dump(const std::string& data, size_t from = 0)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    std::string text(HexDumpLength(data.size(), from), '#');
    size_t written = FormatHexDump(bytes, data.size(), from, text.data());
    EXPECT_EQ(text.size(), written);
    return text;
}

std::string Row(const std::string& data, uint32_t offset)
{
    std::string text(200, '#');
    size_t written = FormatHexRow(reinterpret_cast<const uint8_t*>(data.data()), data.size(), offset, text.data());
    EXPECT_EQ(HexRowLength(offset), written) << "offset " << offset;
    EXPECT_EQ('#', text[written]) << "the row wrote past its length";
    return text.substr(0, written);
}

}  // namespace

TEST(HexDump, RowsAreByteExact)
{
    std::string sixteen, seventeen;
    for (int i = 0; i < 16; i++)
        sixteen += char(i);
    seventeen = sixteen + char(0x10);
    struct Case {
        const char* name;
        std::string data;
        uint32_t offset;
        std::string expected;
    } cases[] = {
        {"Hi! CR LF", "Hi!\r\n", 0,
         "0000  48 69 21 0D 0A" + std::string(36, ' ') + "Hi!.." + std::string(11, ' ')},
        {"sixteen bytes", sixteen, 0,
         "0000  00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F  ................"},
        {"printable edges", Bytes({0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF}), 0x10,
         "0010  1F 20 7E 7F 80 FF" + std::string(33, ' ') + ". ~..." + std::string(10, ' ')},
        {"offset FFFF", "A", 0xFFFF, "FFFF  41" + std::string(48, ' ') + "A" + std::string(15, ' ')},
        {"offset 10000", "A", 0x10000, "10000  41" + std::string(48, ' ') + "A" + std::string(15, ' ')},
        {"offset 123456", "AB", 0x123456, "123456  41 42" + std::string(45, ' ') + "AB" + std::string(14, ' ')},
        {"empty row", "", 0, "0000 " + std::string(67, ' ')},
    };
    for (const Case& c : cases) {
        std::string row = Row(c.data, c.offset);
        EXPECT_EQ(c.expected, row) << c.name;
    }
    EXPECT_EQ(72u, HexRowLength(0));
    EXPECT_EQ(72u, HexRowLength(0xFFFF));
    EXPECT_EQ(73u, HexRowLength(0x10000));
    EXPECT_EQ(76u, HexRowLength(0xFFFFFFFF));
}

TEST(HexDump, DumpsSplitIntoRowsFromTheStartOffset)
{
    std::string seventeen;
    for (int i = 0; i < 17; i++)
        seventeen += char('a' + i);
    std::string two = Dump(seventeen);
    EXPECT_EQ("0000  61 62 63 64 65 66 67 68  69 6A 6B 6C 6D 6E 6F 70  abcdefghijklmnop\r\n"
              "0010  71" + std::string(48, ' ') + "q" + std::string(15, ' ') + "\r\n",
              two);
    // rows start at the offset given, not at a multiple of 16
    std::string fromThree = Dump(seventeen, 3);
    EXPECT_EQ("0003  64 65 66 67 68 69 6A 6B  6C 6D 6E 6F 70 71" + std::string(8, ' ') + "defghijklmnopq" +
                  "  \r\n",
              fromThree);
    EXPECT_EQ(std::string(), Dump(seventeen, 17));
    EXPECT_EQ(74u * 2, HexDumpLength(17, 0));
    EXPECT_EQ(74u, HexDumpLength(16, 0));
    // a dump that crosses 0x10000 widens its later rows
    std::string big(0x10010, 'x');
    std::string text = Dump(big, 0xFFF0);
    EXPECT_EQ(74u + 75u, text.size());
    EXPECT_EQ("FFF0 ", text.substr(0, 5));
    EXPECT_EQ("10000 ", text.substr(74, 6));
}

namespace {

struct Split {
    std::vector<std::string> lines;
    TextScan scan;
};

bool Collect(void* context, const char* text, size_t length)
{
    static_cast<std::vector<std::string>*>(context)->emplace_back(text, length);
    return true;
}

Split SplitAll(const std::string& data)
{
    Split split;
    split.scan = ScanTextLines(reinterpret_cast<const uint8_t*>(data.data()), data.size(), Collect, &split.lines);
    return split;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += "[" + line + "]";
    return text;
}

}  // namespace

TEST(TextLines, SplitsTextAndStopsAtTheFirstOtherByte)
{
    struct Case {
        const char* name;
        std::string data;
        const char* lines;
        int32_t consumed;
        bool incomplete;
    } cases[] = {
        {"request and empty line", "GET / HTTP/1.0\r\n\r\n", "[GET / HTTP/1.0][]", 18, false},
        {"TAB is text, LF alone ends a line", "a\tb\nc", "[a\tb][c]", 5, true},
        {"no line end", "abc", "[abc]", 3, true},
        {"ends right after CR", "ab\r", "[ab]", 3, true},
        {"CR followed by text", "ab\rc\n", "", 0, false},
        {"CR followed by text after a line", "x\nab\rc", "[x]", 2, false},
        {"NUL after a line", Bytes({'o', 'k', '\n', 0, 'z'}), "[ok]", 3, false},
        {"form feed", "\x0c", "", 0, false},
        {"escape inside a line", "ab\x1b" "c\n", "", 0, false},
        {"DEL", "a\n\x7f", "[a]", 2, false},
        {"high byte", "a\nb\x80\n", "[a]", 2, false},
        {"byte FF", "\xff", "", 0, false},
        {"empty data", "", "", 0, false},
        {"one full line", "line\n", "[line]", 5, false},
        {"CR LF twice", "a\r\n\r\n", "[a][]", 5, false},
        {"CR CR LF", "a\r\r\n", "", 0, false},
    };
    for (const Case& c : cases) {
        Split split = SplitAll(c.data);
        EXPECT_EQ(c.lines, Joined(split.lines)) << c.name;
        EXPECT_EQ(c.consumed, split.scan.consumed) << c.name;
        EXPECT_EQ(c.incomplete, split.scan.incomplete) << c.name;
    }
}

TEST(TextLines, SinkFailureIsReported)
{
    auto refuse = [](void*, const char*, size_t) { return false; };
    for (const char* data : {"a\n", "abc", "ab\r"}) {
        TextScan scan = ScanTextLines(reinterpret_cast<const uint8_t*>(data), strlen(data), refuse, nullptr);
        EXPECT_EQ(-1, scan.consumed) << data;
    }
}

TEST(TextLines, HttpRequestAndStatusLines)
{
    struct Case {
        const char* line;
        bool request;
        bool status;
    } cases[] = {
        {"GET / HTTP/1.0\r\n", true, false},
        {"POST /form HTTP/1.1\r\n", true, false},
        {"HTTP/1.1\r\n", true, true},
        {"HTTP/1\r\n", false, false},
        {"GET / http/1.0\r\n", false, false},
        {"GET / HTTP/2.0\r\n", false, false},
        {"GET / HTTP/1.0 x\r\n", false, false},
        {"HTTP/1.1 200 OK\r\n", false, true},
        {"http/1.1 200 OK\r\n", false, false},
        {"\r\n", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.request, IsHttpRequestLine(c.line, strlen(c.line))) << c.line;
        EXPECT_EQ(c.status, IsHttpStatusLine(c.line, strlen(c.line))) << c.line;
    }
}

TEST(HtmlLog, EscapesMarkupSpacesAndLineEnds)
{
    struct Case {
        std::string text;
        std::string html;
    } cases[] = {
        {"a<b & c", "a&lt;b &amp; c"},
        {"x   y", "x &nbsp;&nbsp;y"},
        {" lead", " lead"},
        {"  two", " &nbsp;two"},
        {"a\r\n", "a<br />\r\n"},
        {"row\r\nrow\r\n", "row<br />\r\nrow<br />\r\n"},
        {"a>b", "a&gt;b"},
        {"&amp;", "&amp;amp;"},
        {Bytes({1, 0x7f, 0xe9, 0xff, '\t', '\n'}), Bytes({1, 0x7f, 0xe9, 0xff, '\t', '\n'})},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string html = "junk:";
        AppendHtmlEscaped(html, c.text.data(), c.text.size());
        EXPECT_EQ("junk:" + c.html, html) << c.text;
    }
    EXPECT_STREQ("tsstart", HtmlClassOf(0x008000));
    EXPECT_STREQ("tsmsg", HtmlClassOf(0x800000));
    EXPECT_STREQ("tsdata", HtmlClassOf(0));
    EXPECT_STREQ("tserror", HtmlClassOf(0x000080));
    EXPECT_STREQ("", HtmlClassOf(0x123456));
}

TEST(HtmlLog, HtmlFileNames)
{
    struct Case {
        const char* name;
        bool html;
    } cases[] = {
        {"log.htm", true},      {"LOG.HTM", true},        {"c:\\logs\\x.Html", true},
        {"log", false},         {"log.htm.txt", false},   {"c:\\dir.htm\\log", false},
        {"log.html5", false},   {"log.txt", false},       {"d:log.htm", true},
        {"/unix/dir/a.html", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.html, IsHtmlFileName(c.name)) << c.name;
}

TEST(CountFormat, CommasEveryThreeDigits)
{
    struct Case {
        int32_t value;
        const char* text;
    } cases[] = {
        {0, "0"}, {999, "999"}, {1000, "1,000"}, {-1000, "-1,000"}, {-100, "-100"}, {-1, "-1"},
        {100000, "100,000"}, {1234567, "1,234,567"}, {-123456, "-123,456"},
        {INT_MAX, "2,147,483,647"}, {INT_MIN, "-2,147,483,648"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.text, FormatCountText(c.value)) << c.value;
}

TEST(SettingChoices, StoredValuesSnapToTheNearestChoiceAbove)
{
    struct Case {
        const char* setting;
        int32_t (*normalise)(int32_t);
        int32_t stored;
        int32_t chosen;
    } cases[] = {
        {"buffer", NormaliseBufferSize, -5, -1},
        {"buffer", NormaliseBufferSize, -1, -1},
        {"buffer", NormaliseBufferSize, 0, 32768},
        {"buffer", NormaliseBufferSize, 32768, 32768},
        {"buffer", NormaliseBufferSize, 32769, 131072},
        {"buffer", NormaliseBufferSize, 131072, 131072},
        {"buffer", NormaliseBufferSize, 131073, 524288},
        {"buffer", NormaliseBufferSize, 524289, 2097152},
        {"buffer", NormaliseBufferSize, INT_MAX, 2097152},
        {"interval", NormaliseUpdateInterval, INT_MIN, 70},
        {"interval", NormaliseUpdateInterval, 1, 70},
        {"interval", NormaliseUpdateInterval, 70, 70},
        {"interval", NormaliseUpdateInterval, 71, 125},
        {"interval", NormaliseUpdateInterval, 126, 225},
        {"interval", NormaliseUpdateInterval, 100000, 225},
        {"backlog", NormaliseBacklogSize, 0, 1048576},
        {"backlog", NormaliseBacklogSize, -1, 1048576},
        {"backlog", NormaliseBacklogSize, 1048577, 4194304},
        {"backlog", NormaliseBacklogSize, 4194305, 10485760},
        {"backlog", NormaliseBacklogSize, INT_MAX, 10485760},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.chosen, c.normalise(c.stored)) << c.setting << " stored " << c.stored;
}

TEST(SettingChoices, LongHints)
{
    struct Case {
        const char* hint;
        const char* longHint;
    } cases[] = {
        {"Cut|Cuts the selection", "Cuts the selection"},
        {"|Wait for a process to spy", "Wait for a process to spy"},
        {"Quits the application", "Quits the application"},
        {"a|b|c", "b|c"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(c.longHint, LongHintOf(c.hint)) << c.hint;
}

namespace {

// The log buffer as the display rules describe it, one batch at a time: before a batch, whole
// lines go from the top while the buffer and the batch together pass the size.
void ShowOneAtATime(std::string& buffer, const std::string& batch, int32_t size)
{
    while (size >= 0 && !buffer.empty() && buffer.size() + batch.size() > size_t(size)) {
        size_t end = buffer.find("\r\n");
        buffer.erase(0, end == std::string::npos ? buffer.size() : end + 2);
    }
    buffer += batch;
}

// The same buffer after the batches come in at once, as the plan says.
std::string ShowAtOnce(std::string buffer, const std::vector<std::string>& batches, int32_t size)
{
    std::vector<std::vector<char>> storage;
    std::vector<ShownBatch*> chain;
    for (const std::string& text : batches) {
        storage.emplace_back(sizeof(ShownBatch) + text.size());
        ShownBatch* batch = reinterpret_cast<ShownBatch*>(storage.back().data());
        batch->Next = nullptr;
        batch->Length = int32_t(text.size());
        memcpy(batch->Text, text.c_str(), text.size() + 1);
        if (!chain.empty())
            chain.back()->Next = batch;
        chain.push_back(batch);
    }
    CatchUpPlan plan = PlanCatchUp(int32_t(buffer.size()), size, chain.empty() ? nullptr : chain[0]);
    if (plan.clearsPresent) {
        buffer.clear();
    } else {
        while (!buffer.empty() && buffer.size() > size_t(plan.presentRoom < 0 ? 0 : plan.presentRoom)) {
            size_t end = buffer.find("\r\n");
            buffer.erase(0, end == std::string::npos ? buffer.size() : end + 2);
        }
    }
    int32_t offset = plan.fromOffset;
    for (const ShownBatch* batch = plan.from; batch; batch = batch->Next, offset = 0)
        buffer.append(batch->Text + offset, size_t(batch->Length - offset));
    return buffer;
}

// A chain of batches over the texts, kept in storage.
const ShownBatch* Chain(const std::vector<std::string>& texts, std::vector<std::vector<char>>& storage)
{
    ShownBatch* first = nullptr;
    ShownBatch* last = nullptr;
    for (const std::string& text : texts) {
        storage.emplace_back(sizeof(ShownBatch) + text.size());
        ShownBatch* batch = reinterpret_cast<ShownBatch*>(storage.back().data());
        batch->Next = nullptr;
        batch->Length = int32_t(text.size());
        memcpy(batch->Text, text.c_str(), text.size() + 1);
        (last ? last->Next : first) = batch;
        last = batch;
    }
    return first;
}

std::string RandomLines(std::mt19937& random, int lines, int longest)
{
    std::string text;
    for (int i = 0; i < lines; i++)
        text += std::string(size_t(random() % (longest + 1)), char('a' + random() % 26)) + "\r\n";
    return text;
}

}  // namespace

TEST(CatchUpPlan, PlainTextIsWholeLinesEndingInCrLf)
{
    const struct {
        const char* text;
        bool plain;
    } cases[] = {
        {"one\r\n", true},        {"one\r\ntwo\tthree\r\n", true}, {"\r\n", true},
        {"", false},               {"one", false},                   {"one\r\ntwo", false},
        {"one\ntwo\r\n", false},  {"one\rtwo\r\n", false},         {"one\r\r\n", false},
        {"\none\r\n", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.plain, IsPlainText(c.text, int32_t(strlen(c.text)))) << c.text;
    EXPECT_FALSE(IsPlainText("a\0b\r\n", 5)) << "a NUL ends the text for the log buffer";
}

TEST(CatchUpPlan, AtOnceLeavesTheBufferAsOneAtATime)
{
    std::mt19937 random(20261208);
    for (int round = 0; round < 3000; round++) {
        // sizes from smaller than one batch to larger than all of them, and no limit
        int32_t size = round % 10 == 0 ? -1 : int32_t(random() % 3000);
        std::string present = RandomLines(random, int(random() % 30), 60);
        if (size >= 0)
            ShowOneAtATime(present, "", size);   // the buffer as the display left it
        std::vector<std::string> batches;
        int count = int(random() % 12) + 1;
        for (int i = 0; i < count; i++)
            batches.push_back(RandomLines(random, int(random() % 15) + 1, random() % 4 == 0 ? 400 : 60));
        std::string expected = present;
        for (const std::string& batch : batches)
            ShowOneAtATime(expected, batch, size);
        ASSERT_EQ(expected, ShowAtOnce(present, batches, size))
            << "round " << round << ", size " << size << ", " << count << " batches";
    }
}

TEST(CatchUpPlan, NewestTextIsTheNewestLinesOrBatchesThatFit)
{
    std::mt19937 random(20260425);
    for (int round = 0; round < 3000; round++) {
        std::vector<std::string> batches;
        int count = int(random() % 10) + 1;
        for (int i = 0; i < count; i++)
            batches.push_back(RandomLines(random, int(random() % 8) + 1, random() % 5 == 0 ? 500 : 50));
        std::vector<std::vector<char>> storage;
        const ShownBatch* first = Chain(batches, storage);
        std::string joined;
        std::vector<size_t> batchStarts, lineStarts;
        for (const std::string& batch : batches) {
            batchStarts.push_back(joined.size());
            for (size_t at = 0; at < batch.size(); at = batch.find("\r\n", at) + 2)
                lineStarts.push_back(joined.size() + at);
            joined += batch;
        }
        int64_t room = int64_t(random() % (joined.size() + 100));
        for (bool atLineStarts : {true, false}) {
            // the first start from which at most room follows, else the last start of all
            const std::vector<size_t>& starts = atLineStarts ? lineStarts : batchStarts;
            size_t expected = starts.back();
            for (size_t start : starts) {
                if (int64_t(joined.size() - start) <= room) {
                    expected = start;
                    break;
                }
            }
            ChainStart newest = NewestText(first, room, atLineStarts);
            ASSERT_NE(nullptr, newest.batch) << "round " << round;
            size_t found = 0;
            for (const ShownBatch* batch = first; batch != newest.batch; batch = batch->Next)
                found += size_t(batch->Length);
            found += size_t(newest.offset);
            ASSERT_EQ(expected, found) << "round " << round << ", room " << room << ", "
                                       << (atLineStarts ? "lines" : "batches");
            ASSERT_EQ(int64_t(joined.size() - found), TextFrom(newest.batch, newest.offset));
        }
    }
}

TEST(LogBufferPace, FollowsWhatTheLogBufferTakesAndLetsAStallPass)
{
    LogBufferPace pace;
    for (int tick = 0; tick < 20; tick++)
        pace.Learn(40000, 40000 * 2.0);   // 2 us a character
    EXPECT_NEAR(2.0, pace.MicrosecondsPerCharacter(), 0.01);
    EXPECT_NEAR(28125, double(pace.CharactersWithin(56250)), 200) << "a quarter of 225 ms";

    pace.Learn(100, 100 * 50.0);   // a catch-up this small times its fixed cost, not its characters
    EXPECT_NEAR(2.0, pace.MicrosecondsPerCharacter(), 0.01);

    pace.Learn(40000, 40000 * 1e6);   // the machine stalled for a while
    EXPECT_GT(pace.MicrosecondsPerCharacter(), 2.0);
    EXPECT_GT(pace.CharactersWithin(56250), 0) << "a stall shrinks the budget but never to nothing";
    for (int tick = 0; tick < 20; tick++)
        pace.Learn(40000, 40000 * 2.0);
    EXPECT_NEAR(2.0, pace.MicrosecondsPerCharacter(), 0.1) << "and passes";
}

TEST(RichTextFragment, ColoursAndLinesAndNothingElse)
{
    std::vector<std::vector<char>> storage;
    const ShownBatch* chain = Chain({"skipped\r\nnavy {a}\\b\r\n", "more navy\r\n", "black\tx\xe9\r\n\r\n", "navy\r\n"},
                                    storage);
    const uint32_t colours[] = {0x800000, 0x800000, 0, 0x800000};
    int i = 0;
    for (ShownBatch* batch = const_cast<ShownBatch*>(chain); batch; batch = batch->Next)
        batch->Colour = colours[i++];
    std::vector<char> out(RichTextCapacity(chain, 9));
    size_t length = WriteRichText(chain, 9, 1252, out.data(), out.size());
    EXPECT_EQ("{\\rtf1\\ansi\\ansicpg1252{\\colortbl;\\red0\\green0\\blue128;\\red0\\green0\\blue0;}"
              "\\cf1 navy \\{a\\}\\\\b\\par\nmore navy\\par\n"
              "\\cf2 black\\tab x\\'e9\\par\n\\par\n"
              "\\cf1 navy\\par\n}",
              std::string(out.data(), length));

    EXPECT_EQ(0u, WriteRichText(chain, 9, 1252, out.data(), 40)) << "too little room";
    storage.clear();
    chain = Chain({"a \x01 control character\r\n"}, storage);
    out.assign(RichTextCapacity(chain, 0), 0);
    EXPECT_EQ(0u, WriteRichText(chain, 0, 1252, out.data(), out.size())) << "only a plain insertion keeps it";
}

TEST(RichTextFragment, FitsItsCapacity)
{
    std::mt19937 random(77);
    for (int round = 0; round < 500; round++) {
        std::vector<std::string> texts;
        for (int b = int(random() % 6) + 1; b > 0; b--) {
            std::string text;
            for (int n = int(random() % 200); n > 0; n--) {
                char c = char(0x20 + random() % 0xE0);
                if (random() % 10 == 0)
                    text += "\r\n";
                else
                    text += random() % 10 == 0 ? '\t' : c;
            }
            texts.push_back(text + "\r\n");
        }
        std::vector<std::vector<char>> storage;
        const ShownBatch* chain = Chain(texts, storage);
        int colour = 0;
        for (ShownBatch* batch = const_cast<ShownBatch*>(chain); batch; batch = batch->Next)
            batch->Colour = uint32_t(colour++ % 3) * 0x400000;
        std::vector<char> out(RichTextCapacity(chain, 0));
        ASSERT_GT(WriteRichText(chain, 0, 1252, out.data(), out.size()), 0u) << "round " << round;
    }
}
