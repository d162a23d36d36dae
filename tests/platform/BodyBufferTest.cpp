// Blocks for whole bodies: heap or mapped by size, every byte writable, moved
// without copying, empty when nothing can be had.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "platform/BodyBuffer.h"

namespace {

TEST(BodyBufferTest, BlocksOfEverySizeHoldTheirBytes) {
    for (const size_t size :
         {size_t{1}, size_t{4096}, platform::BodyBuffer::kMappedFrom - 1,
          platform::BodyBuffer::kMappedFrom, platform::BodyBuffer::kMappedFrom * 3 + 5}) {
        SCOPED_TRACE(size);
        platform::BodyBuffer buffer = platform::BodyBuffer::Allocate(size);
        ASSERT_TRUE(buffer);
        EXPECT_EQ(buffer.Size(), size);
        std::memset(buffer.Data(), 0xA5, size);
        EXPECT_EQ(buffer.Data()[0], 0xA5);
        EXPECT_EQ(buffer.Data()[size - 1], 0xA5);
    }
}

TEST(BodyBufferTest, MovingHandsOverTheBlock) {
    platform::BodyBuffer a = platform::BodyBuffer::Allocate(platform::BodyBuffer::kMappedFrom);
    ASSERT_TRUE(a);
    uint8_t* block = a.Data();
    platform::BodyBuffer b(std::move(a));
    EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(b.Data(), block);
    platform::BodyBuffer c = platform::BodyBuffer::Allocate(10);
    c = std::move(b);
    EXPECT_EQ(c.Data(), block);
    c.Reset();
    EXPECT_FALSE(c);
    EXPECT_EQ(c.Size(), 0u);
}

TEST(BodyBufferTest, NothingToAllocateOrNoMemoryGivesAnEmptyBuffer) {
    EXPECT_FALSE(platform::BodyBuffer::Allocate(0));
    // More than the address space can hold.
    EXPECT_FALSE(platform::BodyBuffer::Allocate(SIZE_MAX / 2));
}

}  // namespace
