// What a completion through the handle driver costs, against an overlapped receive on a base
// provider socket, both under the drop-in and both delivered to a completion port:
//   base: a 1-byte WSARecv on a loopback TCP socket whose bytes are already there, then
//         GetQueuedCompletionStatus;
//   device: a WSARecv on a probe socket (a handle of the probe, a non-IFS provider), the probe
//         completing it through WPUCompleteOverlappedRequest, then GetQueuedCompletionStatus.
// Rounds of the two alternate, so load from other processes falls on both alike; the figures
// are medians in microseconds per operation, and the ratio device/base (goal: at most 1.20).
// The probe provider (probewsp.dll, from the drop-in's tests) is installed in the catalog for
// the run and removed after.
//   bench_completion [--operations N] [--rounds N]        (defaults: 2000, 7)
// Run under the drop-in: WINEDLLOVERRIDES=ws2_32=n,b, from the build's bin folder.
#include "Architecture.h"
#include <winsock2.h>
#include <ws2spi.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

#include "../../tests/winsock/dropin/ProbeProvider.h"

namespace {

// {2D4C6E8F-1A3B-4C5D-8E9F-A0B1C2D3E4B7}: the probe's entry while the benchmark runs.
const GUID benchProbeId = {0x2d4c6e8f, 0x1a3b, 0x4c5d, {0x8e, 0x9f, 0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xb7}};

[[noreturn]] void Stop(const char* what, int error)
{
    fprintf(stderr, "bench_completion: %s failed (error %d)\n", what, error);
    exit(1);
}

void InstallProbe()
{
    int error = 0;
    GUID id = benchProbeId;
    WSCDeinstallProvider(&id, &error); // left over from an interrupted run
    DWORD length = 0;
    WSCEnumProtocols(nullptr, nullptr, &length, &error);
    std::vector<WSAPROTOCOL_INFOW> entries(length / sizeof(WSAPROTOCOL_INFOW) + 1);
    length = static_cast<DWORD>(entries.size() * sizeof(WSAPROTOCOL_INFOW));
    int count = WSCEnumProtocols(nullptr, entries.data(), &length, &error);
    if (count <= 0)
        Stop("WSCEnumProtocols", error);
    WSAPROTOCOL_INFOW entry = entries[0];
    entry.iAddressFamily = probeFamily;
    entry.dwServiceFlags1 &= ~XP1_IFS_HANDLES;
    entry.ProtocolChain.ChainLen = BASE_PROTOCOL;
    lstrcpynW(entry.szProtocol, L"bench probe", WSAPROTOCOL_LEN + 1);
    if (WSCInstallProvider(&id, L"%WS2LAYER_HOME%\\probewsp.dll", &entry, 1, &error) != 0)
        Stop("WSCInstallProvider of probewsp.dll", error);
}

void RemoveProbe()
{
    int error = 0;
    GUID id = benchProbeId;
    WSCDeinstallProvider(&id, &error);
}

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to, long operations)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (to.QuadPart - from.QuadPart) * 1e6 / frequency.QuadPart / operations;
}

void Take(HANDLE port, DWORD expectedBytes, const char* what)
{
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = nullptr;
    if (!GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, 5000) || bytes != expectedBytes)
        Stop(what, static_cast<int>(GetLastError()));
}

// A connected loopback pair of the base provider; the receiving side is bound to port.
struct BasePair {
    SOCKET sender, receiver;
};

BasePair MakeBasePair(HANDLE port)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) ||
        listen(listener, 1))
        Stop("the listener", WSAGetLastError());
    BasePair pair;
    pair.sender = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connect(pair.sender, reinterpret_cast<sockaddr*>(&address), sizeof address))
        Stop("connect", WSAGetLastError());
    pair.receiver = accept(listener, nullptr, nullptr);
    if (pair.receiver == INVALID_SOCKET)
        Stop("accept", WSAGetLastError());
    closesocket(listener);
    if (!CreateIoCompletionPort(reinterpret_cast<HANDLE>(pair.receiver), port, 1, 0))
        Stop("binding the base socket to the port", static_cast<int>(GetLastError()));
    return pair;
}

double BaseRound(const BasePair& pair, HANDLE port, long operations)
{
    std::vector<char> bytes(operations, 'x');
    for (long sent = 0; sent < operations;) {
        int now = send(pair.sender, bytes.data() + sent, operations - sent, 0);
        if (now <= 0)
            Stop("send", WSAGetLastError());
        sent += now;
    }
    Sleep(50); // every byte is in before the clock starts
    char byte;
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    for (long i = 0; i < operations; ++i) {
        WSABUF buffer{1, &byte};
        DWORD flags = 0;
        WSAOVERLAPPED overlapped{};
        if (WSARecv(pair.receiver, &buffer, 1, nullptr, &flags, &overlapped, nullptr) &&
            WSAGetLastError() != WSA_IO_PENDING)
            Stop("WSARecv on the base socket", WSAGetLastError());
        Take(port, 1, "the base socket's completion");
    }
    QueryPerformanceCounter(&to);
    return Microseconds(from, to, operations);
}

double DeviceRound(SOCKET probe, HANDLE port, long operations)
{
    char byte;
    ProbeOutcome outcome{0, 1};
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    for (long i = 0; i < operations; ++i) {
        WSABUF buffer{1, &byte};
        DWORD flags = 0, returned = 0;
        WSAOVERLAPPED overlapped{};
        if (WSARecv(probe, &buffer, 1, nullptr, &flags, &overlapped, nullptr) != SOCKET_ERROR ||
            WSAGetLastError() != WSA_IO_PENDING)
            Stop("WSARecv on the probe socket", WSAGetLastError());
        if (WSAIoctl(probe, probeCompleteReceive, &outcome, sizeof outcome, nullptr, 0,
                     &returned, nullptr, nullptr))
            Stop("the probe's completion", WSAGetLastError());
        Take(port, 1, "the probe socket's completion");
    }
    QueryPerformanceCounter(&to);
    return Microseconds(from, to, operations);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    long operations = 2000, rounds = 7;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--operations") == 0)
            operations = atol(argv[i + 1]);
        else if (strcmp(argv[i], "--rounds") == 0)
            rounds = atol(argv[i + 1]);
    }
    if (operations < 1 || rounds < 1) {
        fputs("usage: bench_completion [--operations N] [--rounds N]\n", stderr);
        return 2;
    }
    printf("build: %s\n", KESTRIX_BITNESS);  // which of the two builds these figures are from
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data))
        Stop("WSAStartup", 0);
    InstallProbe();
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    BasePair pair = MakeBasePair(port);
    SOCKET probe = socket(probeFamily, SOCK_STREAM, 0);
    if (probe == INVALID_SOCKET)
        Stop("socket of the probe", WSAGetLastError());
    if (!CreateIoCompletionPort(reinterpret_cast<HANDLE>(probe), port, 2, 0)) {
        RemoveProbe();
        Stop("binding the probe's handle to the port (is the handle driver there?)",
             static_cast<int>(GetLastError()));
    }
    BaseRound(pair, port, operations / 10 + 1); // warm both paths up
    DeviceRound(probe, port, operations / 10 + 1);
    std::vector<double> base, device;
    for (long round = 0; round < rounds; ++round) {
        base.push_back(BaseRound(pair, port, operations));
        device.push_back(DeviceRound(probe, port, operations));
    }
    double baseMedian = Median(base), deviceMedian = Median(device);
    printf("operations_per_round %ld\nrounds %ld\n", operations, rounds);
    printf("base_overlapped_receive_us %.1f\n", baseMedian);
    printf("device_completion_us %.1f\n", deviceMedian);
    printf("ratio %.2f (goal 1.20 or less)\n", deviceMedian / baseMedian);
    closesocket(probe);
    closesocket(pair.sender);
    closesocket(pair.receiver);
    CloseHandle(port);
    RemoveProbe();
    WSACleanup();
    return 0;
}
