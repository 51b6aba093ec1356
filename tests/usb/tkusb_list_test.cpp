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

// Dropping the nodes leaves the elements alive and the list usable again; clearing deletes them.
TEST(TkusbList, KeepsAppendOrderNeverWrapsItsCountAndOwnsItsElementsUntilDropped)
{
    counted a(1), b(2);
    kv4::tkusb_list<counted> list;
    list.append(&a);
    list.append(&b);
    list.drop_nodes();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.at(0), nullptr);
    EXPECT_EQ(counted::alive, 2);

    for (int i = 0; i < 255; ++i)
        ASSERT_TRUE(list.append(new counted(i)));
    EXPECT_FALSE(list.append(&a));
    EXPECT_EQ(list.count(), 255);
    EXPECT_EQ(list.at(0)->value, 0);
    EXPECT_EQ(list.at(254)->value, 254);
    int expected = 0;
    for (counted *element : list)
        EXPECT_EQ(element->value, expected++);
    list.clear();
    EXPECT_EQ(counted::alive, 2); // only a and b
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.head(), nullptr);
}

} // namespace
