// Records as a hostile or broken sender might make them: nothing outside cbData may be read.
#include "RecordReader.h"
#include "LogRecord.h"
#include <gtest/gtest.h>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> Record(DWORD n, std::vector<DWORD> words, const std::string& text, bool nul = true)
{
    std::vector<BYTE> bytes(4);
    memcpy(bytes.data(), &n, 4);
    for (DWORD word : words) {
        bytes.resize(bytes.size() + 4);
        memcpy(bytes.data() + bytes.size() - 4, &word, 4);
    }
    bytes.insert(bytes.end(), text.begin(), text.end());
    if (nul)
        bytes.push_back(0);
    return bytes;
}

struct Case {
    const char* name;
    std::vector<BYTE> bytes;
    DWORD size;           // cbData as sent; may differ from bytes.size()
    RecordCheck expected;
    const char* text;     // expected text, or null for none
};

TEST(RecordReader, ChecksEverySizeAgainstTheRecord)
{
    auto textOnly = Record(0, {}, "hello");
    auto created = Record(8, {RecordSocketCreated, 0x1234}, "socket (4660) created");
    auto unterminated = Record(0, {}, "cut here", false);
    auto lowData = Record(12, {RecordDataReceived, 5, 100}, "", false);
    auto shortSocket = Record(4, {RecordSocketClosed}, "closed");
    auto shortData = Record(8, {RecordDataSent, 5}, "sent");
    auto unknownKind = Record(4, {77}, "odd");
    auto huge = Record(0xFFFFFFF0u, {}, "x");
    auto bigCount = Record(16, {RecordDataSent, 5, 1000000, 0x41414141}, "sent 1000000");

    const Case cases[] = {
        {"null data", {}, 0, RecordCheck::TooShort, nullptr},
        {"three bytes", {1, 0, 0}, 3, RecordCheck::TooShort, nullptr},
        {"text only", textOnly, (DWORD)textOnly.size(), RecordCheck::Valid, "hello"},
        {"created", created, (DWORD)created.size(), RecordCheck::Valid, "socket (4660) created"},
        {"text without its NUL is cut at cbData", unterminated, (DWORD)unterminated.size(), RecordCheck::Valid, "cut here"},
        {"text cut short by cbData", textOnly, 6, RecordCheck::Valid, "he"},
        {"no text at Low", lowData, 16, RecordCheck::Valid, nullptr},
        {"payload past cbData", created, 10, RecordCheck::PayloadOutside, nullptr},
        {"length near 4 GiB", huge, (DWORD)huge.size(), RecordCheck::PayloadOutside, nullptr},
        {"close without its socket word", shortSocket, (DWORD)shortSocket.size(), RecordCheck::PayloadTooShort, nullptr},
        {"data without its count word", shortData, (DWORD)shortData.size(), RecordCheck::PayloadTooShort, nullptr},
        {"unknown kind", unknownKind, (DWORD)unknownKind.size(), RecordCheck::Valid, "odd"},
        {"count beyond the bytes present", bigCount, (DWORD)bigCount.size(), RecordCheck::Valid, "sent 1000000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordView view;
        memset(&view, 0xCD, sizeof view);
        RecordCheck check = ReadRecord(c.bytes.empty() ? nullptr : c.bytes.data(), c.size, view);
        EXPECT_EQ(static_cast<int>(check), static_cast<int>(c.expected));
        if (check != RecordCheck::Valid)
            continue;
        if (c.text)
            EXPECT_EQ(std::string(view.text, view.textLength), c.text);
        else
            EXPECT_EQ(view.text, nullptr);
    }

    RecordView view;
    ASSERT_EQ(ReadRecord(bigCount.data(), bigCount.size(), view), RecordCheck::Valid);
    EXPECT_EQ(view.kind, (DWORD)RecordDataSent);
    EXPECT_EQ(RecordWord(view, 1), 5u);
    EXPECT_EQ(RecordWord(view, 2), 1000000u);
    EXPECT_EQ(view.payloadLength - DataHeaderSize, 4u) << "the bytes a renderer may read";
}

// Random records at random sizes, each in a buffer of exactly cbData bytes placed at the end of
// a committed page with a guard page after it: a read past cbData faults.
TEST(RecordReader, RandomRecordsNeverReadPastCbData)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const DWORD page = system.dwPageSize;
    BYTE* region = static_cast<BYTE*>(VirtualAlloc(nullptr, page * 3, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_TRUE(region);
    ASSERT_TRUE(VirtualAlloc(region, page * 2, MEM_COMMIT, PAGE_READWRITE));
    BYTE* guard = region + page * 2;

    std::mt19937 random(12345);
    int valid = 0;
    for (int round = 0; round < 20000; round++) {
        DWORD size = random() % 300;
        BYTE* data = guard - size;
        for (DWORD i = 0; i < size; i++)
            data[i] = static_cast<BYTE>(random() % 4 == 0 ? 0 : random());
        if (size >= 4 && random() % 2) {
            DWORD n = random() % (size + 8);
            memcpy(data, &n, 4);
            if (n >= 4 && n + 4 <= size) {
                DWORD kind = random() % 7;
                memcpy(data + 4, &kind, 4);
            }
        }
        RecordView view;
        if (ReadRecord(data, size, view) != RecordCheck::Valid)
            continue;
        valid++;
        ASSERT_LE(view.payload + view.payloadLength, guard);
        if (view.text) {
            ASSERT_LE(reinterpret_cast<const BYTE*>(view.text) + view.textLength, guard);
            volatile char last = view.textLength ? view.text[view.textLength - 1] : 0;
            (void)last;
        }
    }
    EXPECT_GT(valid, 1000);
    VirtualFree(region, 0, MEM_RELEASE);
}

}  // namespace
