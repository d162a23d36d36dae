// The receive buffer's block across deliveries: kept while it is of the size a
// busy connection needs, given back once it grew to hold one large message.
#include <gtest/gtest.h>

#include <cstring>

#include "ostra/norvikqos/qos/cpCQoSContextAction.h"

namespace {

void Fill(cpQoSReceiveBuffer& buffer, uint32_t count) {
    ASSERT_TRUE(buffer.Reserve(count));
    std::memset(buffer.Tail(), 'x', count);
    buffer.Commit(count);
}

TEST(ReceiveBufferTest, EmptyingKeepsABlockUpToTheKeptCapacityAndFreesALargerOne) {
    const struct {
        uint32_t filled;
        bool kept;
    } cases[] = {
        {1, true},
        {cpQoSReceiveBuffer::kKeptCapacity, true},
        {cpQoSReceiveBuffer::kKeptCapacity + 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filled);
        for (const bool byConsume : {false, true}) {
            cpQoSReceiveBuffer buffer;
            Fill(buffer, c.filled);
            const uint8_t* block = buffer.Data();
            if (byConsume)
                buffer.Consume(c.filled);
            else
                buffer.Clear();
            EXPECT_EQ(buffer.Length(), 0u);
            EXPECT_EQ(buffer.HasStorage(), c.kept);
            if (!c.kept)
                continue;
            EXPECT_EQ(buffer.Data(), block);
            // The next read appends into the same block without growing it.
            Fill(buffer, 100);
            EXPECT_EQ(buffer.Data(), block);
        }
    }
}

TEST(ReceiveBufferTest, PartialConsumeMovesTheRestToTheFront) {
    cpQoSReceiveBuffer buffer;
    ASSERT_TRUE(buffer.Reserve(10));
    std::memcpy(buffer.Tail(), "0123456789", 10);
    buffer.Commit(10);
    buffer.Consume(7);
    ASSERT_EQ(buffer.Length(), 3u);
    EXPECT_EQ(std::memcmp(buffer.Data(), "789", 3), 0);
}

}  // namespace
