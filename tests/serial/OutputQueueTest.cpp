#include "serial/OutputQueue.h"

#include <gtest/gtest.h>

namespace qx200 {
namespace {

TEST(OutputQueue, DropsWholeNewLinesWhenFullAndCountsThem)
{
    OutputQueue queue;
    const QByteArray line("C3C\r");
    const qsizetype fits = OutputQueue::Capacity / line.size();
    for (qsizetype i = 0; i < fits; ++i)
        ASSERT_TRUE(queue.push(line));
    EXPECT_EQ(queue.bytes(), OutputQueue::Capacity);
    EXPECT_FALSE(queue.push(line));
    EXPECT_FALSE(queue.push("X\r"));
    EXPECT_EQ(queue.dropped(), 2);
    EXPECT_EQ(queue.bytes(), OutputQueue::Capacity);

    EXPECT_EQ(queue.takeDropped(), 2);
    EXPECT_EQ(queue.dropped(), 0);
}

TEST(OutputQueue, FinishesAStartedLineBeforeTheNext)
{
    OutputQueue queue;
    queue.push("C3C\r");
    queue.push("C3D\r");
    queue.consume(2);
    EXPECT_EQ(queue.head(), QByteArrayView("C\r"));
    EXPECT_EQ(queue.bytes(), 6);
    queue.consume(2);
    EXPECT_EQ(queue.head(), QByteArrayView("C3D\r"));
    queue.consume(4);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.bytes(), 0);
}

TEST(OutputQueue, TakesAnyLineWhenEmptyAndIgnoresEmptyLines)
{
    OutputQueue queue;
    EXPECT_TRUE(queue.push(QByteArray(OutputQueue::Capacity + 1, 'x')));
    EXPECT_FALSE(queue.push("C00\r"));
    queue.clear();
    EXPECT_TRUE(queue.push({}));
    EXPECT_TRUE(queue.empty());
}

} // namespace
} // namespace qx200
