// Start-up and cleanup of the base provider.
#include "BaseProviderHarness.h"

#include <cwchar>

TEST_F(BaseProviderTest, StartupAnswersOrRefusesTheRequestedVersion)
{
    struct Row {
        WORD requested;
        int expected;
    } rows[] = {
        {MAKEWORD(1, 1), WSAVERNOTSUPPORTED},
        {MAKEWORD(1, 0), WSAVERNOTSUPPORTED},
        {MAKEWORD(2, 0), 0},
        {MAKEWORD(2, 2), 0},
        {MAKEWORD(3, 0), 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "requested " << LOBYTE(row.requested) << "."
                                        << HIBYTE(row.requested));
        memset(&data, 0xde, sizeof data);
        EXPECT_EQ(Start(row.requested, tcp4), row.expected);
        if (row.expected == 0) {
            EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
            EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
            EXPECT_LT(wcslen(data.szDescription), size_t(WSPDESCRIPTION_LEN));
        }
    }
}

TEST_F(BaseProviderTest, ProcedureTableHasAllThirtyEntries)
{
    memset(&table, 0, sizeof table);
    ASSERT_EQ(Start(MAKEWORD(2, 2), udp6), 0);
    auto entries = reinterpret_cast<void* const*>(&table);
    const size_t count = sizeof table / sizeof(void*);
    ASSERT_EQ(count, 30u);
    for (size_t i = 0; i < count; ++i)
        EXPECT_NE(entries[i], nullptr) << "entry " << i;
}

TEST_F(BaseProviderTest, CleanupBalancesEveryStartAndRefusesOneTooMany)
{
    ASSERT_EQ(Start(MAKEWORD(2, 2), tcp6), 0);
    int error = 0xdeadbeef;
    for (; starts > 0; --starts)
        ASSERT_EQ(table.lpWSPCleanup(&error), 0) << "error " << error;
    error = 0xdeadbeef;
    EXPECT_EQ(table.lpWSPCleanup(&error), SOCKET_ERROR);
    EXPECT_EQ(error, WSANOTINITIALISED);

    // Started again after the last cleanup, the provider works as before.
    ASSERT_EQ(Start(MAKEWORD(2, 2), tcp4), 0);
    SOCKET s = Socket(tcp4);
    Close(s);
}
