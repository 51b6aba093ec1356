// Events completed by a descriptor: the thread that waits does the read itself when the descriptor
// turns readable, also while it waits for other events, and a cancel from another thread ends the
// wait at once.
#include "platform/linux/event_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct pipe_source {
    kv4::event_source source; // first: ready() finds the rest from it
    int fds[2] = {-1, -1};
    std::thread::id reader;
    char byte = 0;
    bool cancelled = false;
    pipe_source()
    {
        EXPECT_EQ(pipe(fds), 0);
        source.fd = fds[0];
        source.ready = [](kv4::event_source &s, bool cancel) {
            auto &p = reinterpret_cast<pipe_source &>(s);
            p.reader = std::this_thread::get_id();
            p.cancelled = cancel;
            return cancel || read(p.fds[0], &p.byte, 1) == 1;
        };
    }
    ~pipe_source()
    {
        close(fds[0]);
        close(fds[1]);
    }
};

TEST(EventSources, TheWaiterReadsWhatArrivesAndACancelEndsItsWait)
{
    kv4::event_handle plain = kv4::event_create(), completed = kv4::event_create();
    pipe_source p;
    kv4::event_attach(completed, p.source);
    const kv4::event_handle both[2] = {plain, completed};
    EXPECT_EQ(kv4::event_wait_any(both, 2, 0), kv4::wait_timeout);
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(write(p.fds[1], "x", 1), 1);
    });
    EXPECT_EQ(kv4::event_wait_any(both, 2, 10000), 1);
    writer.join();
    EXPECT_EQ(p.reader, std::this_thread::get_id());
    EXPECT_EQ(p.byte, 'x');
    EXPECT_FALSE(p.cancelled);
    // An ended source is done with: what arrives next waits for the next read.
    kv4::event_reset(completed);
    EXPECT_EQ(write(p.fds[1], "y", 1), 1);
    EXPECT_EQ(kv4::event_wait(completed, 50), kv4::wait_timeout);
    EXPECT_TRUE(read(p.fds[0], &p.byte, 1) == 1 && p.byte == 'y');

    // The source's own cancel, as a reader gives up its read, then a cancel of all that waits on
    // its descriptor, as a port's cancel does.
    for (const bool by_descriptor : {false, true}) {
        p.cancelled = false;
        kv4::event_attach(completed, p.source);
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            by_descriptor ? kv4::event_cancel_fd(p.fds[0]) : kv4::event_cancel(p.source);
        });
        EXPECT_EQ(kv4::event_wait(completed, 10000), 0);
        canceller.join();
        EXPECT_TRUE(p.cancelled);
    }
    kv4::event_cancel_fd(p.fds[0]); // ended already: nothing happens
    kv4::event_close(plain);
    kv4::event_close(completed);
}

// A thread's waits poll a descriptor of its own; one refused it at its first wait (the process out
// of descriptors) fails that wait, and gets it at the next once descriptors are free again.
TEST(EventSources, AThreadOutOfDescriptorsWaitsAgainOnceSomeAreFree)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 256);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    kv4::event_handle event = kv4::event_create();
    std::vector<int> filler;
    std::atomic<bool> exhausted{false};
    int starved = 0, freed = 0;
    std::thread waiter([&] { // made first: starting a thread may take descriptors too
        while (!exhausted.load())
            std::this_thread::yield();
        starved = kv4::event_wait(event, 0);
        for (int fd : filler)
            close(fd);
        freed = kv4::event_wait(event, 0);
    });
    filler.push_back(open("/dev/null", O_RDONLY));
    for (int fd; (fd = dup(filler[0])) >= 0;)
        filler.push_back(fd);
    exhausted = true;
    waiter.join();
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(starved, kv4::wait_failed);
    EXPECT_EQ(freed, kv4::wait_timeout);
    kv4::event_close(event);
}

} // namespace
