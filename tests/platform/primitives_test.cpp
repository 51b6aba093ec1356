// OS primitives: events and waits, threads with timed joins, ticks, text for the host. The recursive lock and the
// debug sink are exercised by every registry and discovery test.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Manual-reset events stay signalled until reset; waiting for any reports the lowest signalled one
// and refuses empty, oversized and incomplete sets, and sets that hold one event twice.
TEST(Events, StaySignalledUntilResetAndWaitForAnyReportsTheLowest)
{
    kv4::event_handle events[3] = {kv4::event_create(), kv4::event_create(), kv4::event_create()};
    ASSERT_NE(events[0], nullptr);
    EXPECT_EQ(kv4::event_wait(events[0], 0), kv4::wait_timeout);
    kv4::event_set(events[0]);
    EXPECT_EQ(kv4::event_wait(events[0], 0), 0);
    EXPECT_EQ(kv4::event_wait(events[0], 0), 0);
    kv4::event_reset(events[0]);
    EXPECT_FALSE(kv4::event_is_set(events[0]));
    kv4::event_set(events[2]);
    kv4::event_set(events[1]);
    EXPECT_EQ(kv4::event_wait_any(events, 3, 1000), 1);
    EXPECT_EQ(kv4::event_wait_any(events, 1, 0), kv4::wait_timeout);
    EXPECT_EQ(kv4::event_wait_any(events, 0, 0), kv4::wait_failed);
    EXPECT_EQ(kv4::event_wait_any(events, kv4::max_wait_events + 1, 0), kv4::wait_failed);
    kv4::event_handle with_null[2] = {events[0], nullptr};
    EXPECT_EQ(kv4::event_wait_any(with_null, 2, 0), kv4::wait_failed);
    kv4::event_handle twice[3] = {events[0], events[1], events[0]};
    EXPECT_EQ(kv4::event_wait_any(twice, 3, 0), kv4::wait_failed);
    for (auto event : events)
        kv4::event_close(event);
}

TEST(Threads, AThreadSignalsAnotherAndIsJoined)
{
    struct shared {
        kv4::event_handle go = kv4::event_create();
        kv4::event_handle done = kv4::event_create();
    } state;
    kv4::thread_handle thread = kv4::thread_start(
        [](void *argument) -> unsigned {
            auto *s = static_cast<shared *>(argument);
            kv4::event_wait(s->go, 10000);
            kv4::event_set(s->done);
            return 0;
        },
        &state);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(kv4::thread_join(thread, 0)); // still waiting for `go`
    kv4::event_set(state.go);
    EXPECT_EQ(kv4::event_wait(state.done, 10000), 0);
    EXPECT_TRUE(kv4::thread_join(thread, 10000));
    kv4::thread_release(thread);
    kv4::event_close(state.go);
    kv4::event_close(state.done);
#ifdef _WIN32
    // A wait that fails (a handle that names no thread) is no end of a thread.
    EXPECT_FALSE(kv4::thread_join(reinterpret_cast<kv4::thread_handle>(uintptr_t{0xDEAD0}), 0));
#endif
}

#ifndef _WIN32
// UTF-8 is the host's 8-bit text here: one to four bytes a character, a lone surrogate as '?', and
// the text ends before the first character that does not fit whole.
TEST(Text, Utf16BecomesUtf8OfWholeCharacters)
{
    const uint16_t text[] = {'A', 0x00E9, 0x20AC, 0x0800, 0xFFFF, 0xD834, 0xDD1E, 0xDBFF, 0xDFFF, 0xDC00, 0};
    char out[32];
    kv4::utf16_to_ansi(text, out, sizeof out);
    EXPECT_STREQ(out, "A\xC3\xA9\xE2\x82\xAC\xE0\xA0\x80\xEF\xBF\xBF\xF0\x9D\x84\x9E\xF4\x8F\xBF\xBF?");
    kv4::utf16_to_ansi(text, out, 5); // room for four bytes: the euro sign's three do not fit
    EXPECT_STREQ(out, "A\xC3\xA9");
}
#endif

} // namespace
