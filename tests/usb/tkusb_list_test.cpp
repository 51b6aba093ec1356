// The list container: order, bounded count, ownership.
#include "usb/tkusb_list.h"

#include <gtest/gtest.h>

namespace {

struct counted {
    static int alive;
    int value;
    explicit counted(int v) : value(v) { ++alive; }
    ~counted() { --alive; }
};
int counted::alive = 0;

TEST(TkusbList, KeepsAppendOrderAndNeverWrapsItsCount)
{
    kv4::tkusb_list<counted> list;
    for (int i = 0; i < 255; ++i)
        ASSERT_TRUE(list.append(new counted(i)));
    counted extra(999);
    EXPECT_FALSE(list.append(&extra));
    EXPECT_EQ(list.count(), 255);
    EXPECT_EQ(list.at(0)->value, 0);
    EXPECT_EQ(list.at(254)->value, 254);
    int expected = 0;
    for (counted *element : list)
        EXPECT_EQ(element->value, expected++);
    list.clear();
    EXPECT_EQ(counted::alive, 1); // only `extra`
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.head(), nullptr);
}

TEST(TkusbList, DroppingNodesLeavesTheElements)
{
    counted a(1), b(2);
    kv4::tkusb_list<counted> list;
    list.append(&a);
    list.append(&b);
    list.drop_nodes();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.at(0), nullptr);
    EXPECT_EQ(counted::alive, 2);
    EXPECT_TRUE(list.append(&a)); // usable again, head and tail reset
    EXPECT_EQ(list.at(0), &a);
    list.drop_nodes();
}

} // namespace
