// Sends log records to the viewer's window from outside any traced program.
//   recordsender text TEXT        one text record; the exit code is the viewer's reply
//   recordsender fuzz SEED COUNT  claims the control block as a traced process would, then sends
//                                 COUNT malformed records of random sizes and contents, with 100
//                                 well-formed socket-created records among them, a text record
//                                 "fuzzing finished" and a "process detached" record
//   recordsender flood COUNT      COUNT text records from this process, which is not the traced
//                                 one, and how many of them the viewer answered with 0
//   recordsender script           claims the control block, then sends a fixed set of records that
//                                 takes every way of showing data: HTTP text lines, a status line
//                                 before binary bytes, an incomplete last line, text that turns
//                                 binary, a counted file without bytes, text of other kinds
//   recordsender sizes            claims the control block, then sends a socket-created record
//                                 and data records of every size from 0 to 1 MiB for that
//                                 socket, "sizes finished" and a "process detached" record
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ControlBlock.h"
#include "LogRecord.h"

namespace {

HWND ViewerWindow() { return FindWindowA("TForm1", nullptr); }

LRESULT Send(HWND viewer, const void* data, DWORD size)
{
    COPYDATASTRUCT message = {GetCurrentProcessId(), size, const_cast<void*>(data)};
    DWORD_PTR reply = 0xdeadbeef;
    // A record of megabytes keeps the viewer busy for seconds; a minute means it hangs.
    if (!SendMessageTimeoutA(viewer, WM_COPYDATA, 0, LPARAM(&message), SMTO_ABORTIFHUNG, 60000, &reply)) {
        printf("recordsender: FAILED: the viewer did not answer (%lu)\n", GetLastError());
        exit(100);
    }
    return LRESULT(reply);
}

std::string Word(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

std::string TextRecord(const char* text) { return Word(0) + text + std::string(1, '\0'); }

std::string SocketRecord(DWORD kind, DWORD socket, const char* text)
{
    return Word(8) + Word(kind) + Word(socket) + text + std::string(1, '\0');
}

// Claims the block as the provider does at process attach; false when no viewer waits.
bool Claim(HWND* viewer)
{
    HANDLE semaphore = OpenSemaphoreA(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, KESTRIX_SEMAPHORE_NAME);
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, KESTRIX_MAPPING_NAME);
    if (!semaphore || !mapping)
        return false;
    auto* block = static_cast<ControlBlock*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ControlBlock)));
    if (!block)
        return false;
    WaitForSingleObject(semaphore, INFINITE);
    bool claimed = block->claimed == 0;
    if (claimed) {
        block->claimed = 1;
        block->processId = GetCurrentProcessId();
        block->acknowledged = 0;
        *viewer = HWND(UINT_PTR(block->viewerWindow));
    }
    ReleaseSemaphore(semaphore, 1, nullptr);
    UnmapViewOfFile(block);
    CloseHandle(mapping);
    CloseHandle(semaphore);
    return claimed;
}

// A record whose length word, kind and text need not agree with its size. Kinds that would
// change the socket counters or end the trace are left to the well-formed records.
std::vector<BYTE> MalformedRecord(std::mt19937& random)
{
    std::vector<BYTE> record(random() % 300);
    for (BYTE& byte : record)
        byte = BYTE(random());
    if (record.size() >= 4) {
        const DWORD lengths[] = {0, 4, 8, 12, DWORD(record.size() - 4), DWORD(record.size()), 0x7fffffff,
                                 0xffffffff, 0x80000000, DWORD(random() % 400)};
        DWORD length = lengths[random() % 10];
        memcpy(record.data(), &length, 4);
    }
    if (record.size() >= 8) {
        const DWORD kinds[] = {0, 3, 4, 6, 0xffffffff};
        DWORD kind = kinds[random() % 5];
        memcpy(record.data() + 4, &kind, 4);
    }
    return record;
}

int Fuzz(unsigned seed, int count)
{
    HWND viewer = nullptr;
    if (!Claim(&viewer)) {
        printf("recordsender: FAILED: no open control block\n");
        return 2;
    }
    std::mt19937 random(seed);
    Send(viewer, TextRecord("fuzzing started").data(), DWORD(TextRecord("fuzzing started").size()));
    int created = 0;
    for (int i = 0; i < count; i++) {
        if (i % (count / 100 > 0 ? count / 100 : 1) == 0 && created < 100) {
            std::string record = SocketRecord(RecordSocketCreated, DWORD(5000 + created++), "well-formed");
            Send(viewer, record.data(), DWORD(record.size()));
        }
        std::vector<BYTE> record = MalformedRecord(random);
        // an empty message carries no data pointer at all
        Send(viewer, record.empty() ? nullptr : record.data(), DWORD(record.size()));
    }
    while (created < 100) {
        std::string record = SocketRecord(RecordSocketCreated, DWORD(5000 + created++), "well-formed");
        Send(viewer, record.data(), DWORD(record.size()));
    }
    std::string finished = TextRecord("fuzzing finished");
    Send(viewer, finished.data(), DWORD(finished.size()));
    std::string detached = SocketRecord(RecordProcessDetached, 0, "process detached");
    Send(viewer, detached.data(), DWORD(detached.size()));
    printf("recordsender: %d records sent\n", count + 102);
    return 0;
}

int Flood(int count)
{
    HWND viewer = ViewerWindow();
    if (!viewer)
        return 100;
    std::string record = TextRecord("a flood record");
    int heard = 0;
    for (int i = 0; i < count; i++)
        heard += Send(viewer, record.data(), DWORD(record.size())) == 0;
    printf("recordsender: %d of %d flood records answered with 0\n", heard, count);
    return 0;
}

// Data records of the sizes where the viewer's buffers change hands, up to the megabyte the
// layer puts in one record at most (Wine never delivers a message of two).
const DWORD DataSizes[] = {0, 1, 15, 16, 17, 4095, 4096, 65536, 262144, 1048576};

int Sizes()
{
    HWND viewer = nullptr;
    if (!Claim(&viewer)) {
        printf("recordsender: FAILED: no open control block\n");
        return 2;
    }
    std::string created = SocketRecord(RecordSocketCreated, 5000, "socket (5000) created");
    Send(viewer, created.data(), DWORD(created.size()));
    unsigned long long total = 0;
    for (DWORD size : DataSizes) {
        std::string record = Word(12 + size) + Word(RecordDataReceived) + Word(5000) + Word(size);
        for (DWORD i = 0; i < size; i++)
            record += char(i * 7 + 1);   // binary, so the viewer dumps it in hex
        record += "socket (5000) received data" + std::string(1, '\0');
        Send(viewer, record.data(), DWORD(record.size()));
        total += size;
    }
    std::string finished = TextRecord("sizes finished");
    Send(viewer, finished.data(), DWORD(finished.size()));
    std::string detached = SocketRecord(RecordProcessDetached, 0, "process detached");
    Send(viewer, detached.data(), DWORD(detached.size()));
    printf("recordsender: %llu bytes in %d data records\n", total, int(sizeof DataSizes / sizeof DataSizes[0]));
    return 0;
}

std::string DataRecord(DWORD kind, DWORD socket, DWORD count, const std::string& bytes, const char* text)
{
    return Word(DWORD(12 + bytes.size())) + Word(kind) + Word(socket) + Word(count) + bytes + text +
           std::string(1, '\0');
}

std::string Data(DWORD kind, DWORD socket, const std::string& bytes, const char* text)
{
    return DataRecord(kind, socket, DWORD(bytes.size()), bytes, text);
}

int Script()
{
    HWND viewer = nullptr;
    if (!Claim(&viewer)) {
        printf("recordsender: FAILED: no open control block\n");
        return 2;
    }
    std::string binary;
    for (int i = 0; i < 40; i++)
        binary += char(i * 13);
    const std::string records[] = {
        Word(4) + Word(RecordProcessAttached) + "process attached, command line='recordsender.exe script'" +
            std::string(1, '\0'),
        SocketRecord(RecordSocketCreated, 7, "socket (7) created"),
        SocketRecord(RecordSocketCreated, 8, "socket (8) created"),
        SocketRecord(RecordSocketCreated, 9, "socket (9) created"),
        Data(RecordDataSent, 7, "GET /index.html HTTP/1.0\r\nHost: localhost\r\n\r\n", "socket (7) sent data"),
        Data(RecordDataReceived, 7, "HTTP/1.0 200 OK\r\nContent-Length: 40\r\n\r\n" + binary,
             "socket (7) received data"),
        Data(RecordDataSent, 8, "hello  world\r\nsecond <line> & \"more\"", "socket (8) sent data"),
        Data(RecordDataSent, 8, std::string("\0\x01" "abc", 5), "socket (8) sent data"),
        Data(RecordDataReceived, 9, binary, "socket (9) received data"),
        Data(RecordDataReceived, 9, "text now\r\n", "socket (9) received data"),
        DataRecord(RecordDataSent, 9, 100000, "", "socket (9) sent a file"),
        TextRecord("socket (9) said <odd> & \"quoted\" things\tand a tab"),
        Word(4) + Word(6) + "a record of a kind to come" + std::string(1, '\0'),
        Data(RecordDataReceived, 7, "", "socket (7) did not receive any data, closed gracefully by peer"),
        SocketRecord(RecordSocketClosed, 7, "socket (7) closed"),
        SocketRecord(RecordSocketClosed, 8, "socket (8) closed"),
        SocketRecord(RecordSocketClosed, 9, "socket (9) closed"),
        SocketRecord(RecordProcessDetached, 0, "process detached"),
    };
    for (const std::string& record : records)
        Send(viewer, record.data(), DWORD(record.size()));
    printf("recordsender: %d records sent\n", int(sizeof records / sizeof records[0]));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "text") == 0) {
        HWND viewer = ViewerWindow();
        if (!viewer)
            return 100;
        std::string record = TextRecord(argv[2]);
        return int(Send(viewer, record.data(), DWORD(record.size())));
    }
    if (argc == 4 && strcmp(argv[1], "fuzz") == 0)
        return Fuzz(unsigned(strtoul(argv[2], nullptr, 10)), atoi(argv[3]));
    if (argc == 2 && strcmp(argv[1], "script") == 0)
        return Script();
    if (argc == 2 && strcmp(argv[1], "sizes") == 0)
        return Sizes();
    if (argc == 3 && strcmp(argv[1], "flood") == 0)
        return Flood(atoi(argv[2]));
    fprintf(stderr, "usage: recordsender text TEXT | fuzz SEED COUNT | flood COUNT | script | sizes\n");
    return 99;
}
