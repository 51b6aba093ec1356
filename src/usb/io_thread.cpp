// The asynchronous I/O thread.
//
// Each pass sweeps the exchanges that are out of time, serves every known port, and then waits at
// most 10 ms for the wake event or a port's event. Where each hazard of such a thread is met:
// - Any number of ports: the wait takes the wake event and as many port events as the platform
//   lets one wait hold (63 on Windows, every port the registry holds elsewhere), the ports with an
//   exchange under way first. On Linux a hidraw read completes only while a thread waits on its
//   event, so a port left out of the wait would never see its answer: there every port is waited
//   on. On Windows a transfer completes by itself, and a port the wait cannot hold (past the 63rd
//   busy one) is served on every pass instead, so it waits at most one pass (10 ms). A signal has
//   its port served; a pass without one serves every port.
// - No spin on an event left signalled: serve() resets a port's event before it looks at what the
//   port has to do, and a port's record outcome, not its event, says whether a transfer ended.
// - A current wait set: opening and closing a port wake the thread, which then collects the ports
//   afresh, and a failed wait also collects afresh. A port is waited on by its device's event,
//   and while a transfer of its exchange is under way by the event of that transfer's record; the
//   device lives at least as long as the thread holds it, and the record's open state as long as
//   the exchange, so a stale set never waits on a released event.
// - Never two threads: registering while the thread of an earlier registration still runs is
//   refused.
// - A port closed while an exchange runs on it: the exchange holds a reference to the open state
//   it was queued on, so the buffers, record and handle outlive the close; a close marks the state
//   and cancels, and the exchange ends with TKUSB_DEVICE_CLOSED_ERR in exactly one callback.
// - A wake-up racing the unregistration: wake-ups reach the event only through the registration,
//   which is cleared under its own guard before the thread's state goes; the thread owns the event.
// - Shutdown while registered: the device objects the thread may hold are kept until it ends.
// - A callback that unregisters: the join times out (TKUSB_EVENT_TIMEOUT_ERR after twice the
//   timeout) and clears the registration; the thread ends when the callback returns. The
//   exchanges it still holds then end without a callback: the callback is read afresh for every
//   call, and none is registered any more.
#include "usb/io_thread.h"

#include "platform/platform.h"
#include "usb/async_exchange.h"
#include "usb/async_state.h"
#include "usb/custody.h"
#include "usb/registry.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace kv4 {

namespace {

constexpr uint32_t longest_wait_ms = 10;
constexpr uint16_t response_capacity = 128;

// What one registration's thread needs; shared by the thread and the registration, so that
// neither outlives it.
struct io_run {
    explicit io_run(uint16_t timeout) : timeout_ms(timeout), wake(event_create()) {}
    ~io_run() { event_close(wake); }
    io_run(const io_run &) = delete;
    io_run &operator=(const io_run &) = delete;

    const uint16_t timeout_ms;
    const event_handle wake;
    std::atomic<bool> stop{false};
};

// The I/O thread's view of one port.
struct io_port {
    win32_device *device = nullptr;
    uint16_t port = 0;
    async_exchange exchange; // exchange.port is held while an exchange is under way
    bool held = false;       // the last wait held its event
};

// Milliseconds from start to now. An exchange queued after `now` was read has started later than
// now: its age is 0, not the 2^32 - 1 that the plain difference gives. Ticks wrap at 2^32, so
// differences are read as signed; no exchange is older than 2^31 ms.
uint32_t age(uint32_t start, uint32_t now)
{
    const uint32_t difference = now - start;
    return static_cast<int32_t>(difference) < 0 ? 0 : difference;
}

bool under_way(uint32_t state)
{
    return state == TKUSB_IO_WRITE_REQUESTED || state == TKUSB_IO_WRITING || state == TKUSB_IO_READING;
}

class io_loop {
  public:
    explicit io_loop(io_run &run) : run_(run) {}

    void run()
    {
        tkusb_platform_collect_wait_ports();
        for (io_port *woken = nullptr; !run_.stop.load();) {
            tkusb_platform_sweep_timeouts();
            // A signal names the port to serve; without one (a quiet 10 ms, a wake-up), every
            // port is looked at, in case a signal was missed. The ports the wait could not hold
            // are looked at on every pass.
            if (woken)
                serve(*woken);
            for (io_port &port : ports_)
                if (!woken || !port.held)
                    serve(port);
            woken = wait();
        }
        tkusb_platform_collect_wait_ports(); // a port opened since the last wake-up may hold one too
        for (io_port &port : ports_) {       // what the stop leaves under way still ends, once
            const uint32_t state = port.device->io_state.load();
            if (!under_way(state))
                continue;
            if (state != TKUSB_IO_WRITE_REQUESTED)
                cancel_io(port.exchange);
            else if (!port.exchange.port)
                take_over(*port.device, &port.exchange);
            end(port, TKUSB_ASYNC_UNREGISTERED);
        }
    }

  private:
    // Every open port, and every port with an exchange under way (a closed port's exchange must
    // still end), in registry order. Ports this thread holds an exchange of stay, even when the
    // registry no longer lists them.
    void tkusb_platform_collect_wait_ports()
    {
        struct collected {
            std::vector<io_port> ports;
            bool complete = true;
            // Takes a device that is open or has an exchange under way, once.
            static void visit(win32_device *device, void *context)
            {
                auto *into = static_cast<collected *>(context);
                const bool wanted = device->is_open.load() || under_way(device->io_state.load());
                const bool listed = std::any_of(into->ports.begin(), into->ports.end(),
                                                [&](const io_port &p) { return p.device == device; });
                try {
                    if (wanted && !listed)
                        into->ports.push_back(io_port{device, device->port, {}});
                } catch (const std::bad_alloc &) {
                    into->complete = false;
                }
            }
        } found;
        // Without the platform lock the library is shut down and its registry empty; the devices
        // it retired may still have an exchange queued after this thread last looked (a retired
        // device is closed, so only such an exchange brings it in).
        tkusb_platform_for_each(collected::visit, &found);
        for_each_retired(collected::visit, &found);
        if (!found.complete)
            return; // the old set serves until the next wake-up
        try {
            for (io_port &held : ports_) {
                if (!held.exchange.port)
                    continue;
                auto same = std::find_if(found.ports.begin(), found.ports.end(),
                                         [&](const io_port &p) { return p.device == held.device; });
                if (same != found.ports.end())
                    same->exchange = std::move(held.exchange);
                else
                    found.ports.push_back(std::move(held));
            }
        } catch (const std::bad_alloc &) {
            return;
        }
        ports_ = std::move(found.ports);
    }

    // An exchange older than the timeout is cancelled and ends with TKUSB_READ_TIMEOUT_ERR, unless
    // its transfer has ended meanwhile: then it is served first, and an answer that is there ends
    // it. A hidraw read ends only for a waiter, hence the wait that does not wait.
    void tkusb_platform_sweep_timeouts()
    {
        const uint32_t now = tick_count();
        for (io_port &port : ports_) {
            if (!under_way(port.device->io_state.load()))
                continue;
            if (!port.exchange.port && port.device->io_state.load() == TKUSB_IO_WRITE_REQUESTED)
                take_over(*port.device, &port.exchange);
            if (age(port.exchange.start_ticks, now) <= run_.timeout_ms)
                continue;
            // Serving a write that ended starts the read, whose answer may be there already: at
            // most two steps.
            for (int step = 0; step < 2 && port.exchange.port &&
                               port.device->io_state.load() != TKUSB_IO_WRITE_REQUESTED;
                 ++step) {
                event_wait(signal_of(port), 0);
                if (hid().outcome(&port.exchange.port->async_transfer) == hid_io::pending)
                    break;
                serve(port);
            }
            if (!port.exchange.port) // it ended; a new exchange may have been queued since
                continue;
            if (port.device->io_state.load() != TKUSB_IO_WRITE_REQUESTED)
                cancel_io(port.exchange);
            end(port, TKUSB_READ_TIMEOUT_ERR);
        }
    }

    // One step of the port's exchange, if one is due.
    void serve(io_port &port)
    {
        win32_device &device = *port.device;
        event_reset(signal_of(port)); // whatever it said is looked at now
        int16_t result = 0;
        switch (device.io_state.load()) {
        case TKUSB_IO_WRITE_REQUESTED:
            if (!port.exchange.port)
                take_over(device, &port.exchange);
            result = start_async_write(port.exchange);
            break;
        case TKUSB_IO_WRITING:
            if (!written_or_read(port))
                return;
            result = start_async_read(port.exchange);
            break;
        case TKUSB_IO_READING: {
            if (!written_or_read(port))
                return;
            uint16_t length = response_capacity;
            result = finish_async_read(port.exchange, response_, &length);
            if (result == 0)
                end(port, 0, response_, length);
            else
                end(port, result);
            return;
        }
        default: return;
        }
        if (result != 0)
            end(port, result);
    }

    // What the wait holds for the port: the record's event while a transfer is under way on it
    // (only this thread starts and ends those), otherwise the device's, which send_command signals.
    static event_handle signal_of(const io_port &port)
    {
        const uint32_t state = port.device->io_state.load();
        if (port.exchange.port && (state == TKUSB_IO_WRITING || state == TKUSB_IO_READING))
            return port.exchange.port->async_transfer.event;
        return port.device->async_event;
    }

    bool written_or_read(const io_port &port) const
    {
        return port.exchange.port && hid().outcome(&port.exchange.port->async_transfer) != hid_io::pending;
    }

    // Ends the port's exchange: the port is idle again before the callback, which may queue the
    // next exchange on it.
    void end(io_port &port, int16_t result, const uint8_t *data = nullptr, uint16_t length = 0)
    {
        const uint16_t tag = port.exchange.tag;
        port.exchange.port.reset();
        // Reset before the port is idle: a send from another thread may follow at once, and its
        // signal must stand.
        event_reset(port.device->async_event);
        port.device->compare_and_set_state(port.device->io_state.load(), TKUSB_IO_IDLE);
        if (tkusb_asyncio_callback callback = async_callback())
            callback(port.port, data, length, result, static_cast<int16_t>(tag));
    }

    // Until the wake event, a port's event, or the next time-out; at most 10 ms. The port whose
    // event ended it, or null. The wait holds the ports with an exchange under way first, then the
    // idle ones (whose event a send signals), each group from the one after the last port served,
    // round the set: the system names the first signalled event, and a fixed order would leave the
    // later ports waiting while the earlier ones stay busy.
    io_port *wait()
    {
        event_handle events[max_wait_events] = {run_.wake};
        std::size_t owners[max_wait_events] = {};
        std::size_t count = 1;
        const std::size_t n = ports_.size();
        const std::size_t from = n ? next_from_ % n : 0;
        for (io_port &port : ports_)
            port.held = false;
        for (const bool busy_only : {true, false})
            for (std::size_t k = 0; k < n && count < max_wait_events; ++k) {
                const std::size_t i = (from + k) % n;
                io_port &port = ports_[i];
                const bool wanted = busy_only ? under_way(port.device->io_state.load()) : !port.held;
                const event_handle event = signal_of(port);
                if (event && wanted) {
                    port.held = true;
                    owners[count] = i;
                    events[count++] = event;
                }
            }
        uint32_t wait_ms = longest_wait_ms;
        const uint32_t now = tick_count();
        for (const io_port &port : ports_) {
            if (port.exchange.port) {
                const uint32_t elapsed = age(port.exchange.start_ticks, now);
                const uint32_t left = elapsed <= run_.timeout_ms ? run_.timeout_ms - elapsed + 1 : 0;
                wait_ms = std::min(wait_ms, left);
            }
        }
        const int woken = event_wait_any(events, count, wait_ms);
        if (woken == 0)
            event_reset(run_.wake);
        if (woken > 0) {
            next_from_ = owners[woken] + 1;
            return &ports_[owners[woken]];
        }
        if ((woken == 0 && !run_.stop.load()) || woken == wait_failed)
            tkusb_platform_collect_wait_ports();
        if (woken == wait_failed)
            sleep_ms(1); // whatever made it fail, the thread does not spin on it
        return nullptr;
    }

    io_run &run_;
    std::vector<io_port> ports_;
    std::size_t next_from_ = 0; // where the next wait's ports begin
    uint8_t response_[response_capacity];
};

// Registration, guarded by registration_guard: host threads register and unregister.
std::mutex registration_guard;
std::shared_ptr<io_run> registered_run;
thread_handle registered_thread = nullptr;

// Whether the thread of the last registration is still running.
std::atomic<bool> thread_alive{false};

unsigned tkusb_platform_io_thread(void *argument)
{
    std::unique_ptr<std::shared_ptr<io_run>> run(static_cast<std::shared_ptr<io_run> *>(argument));
    {
        io_loop loop(**run);
        loop.run();
    }
    run.reset();
    thread_alive.store(false);
    library_thread_ended();
    return 0;
}

} // namespace

int16_t tkusb_platform_register_asyncio(tkusb_asyncio_callback callback, uint16_t timeout_ms)
{
    std::lock_guard<std::mutex> guard(registration_guard);
    if (tkusb_platform_asyncio_registered() == 0)
        return TKUSB_EVENT_REGISTER_ERR;
    std::shared_ptr<io_run> run;
    std::unique_ptr<std::shared_ptr<io_run>> for_thread;
    try {
        run = std::make_shared<io_run>(timeout_ms);
        for_thread.reset(new std::shared_ptr<io_run>(run));
    } catch (const std::bad_alloc &) {
        return TKUSB_ASYNC_REGISTER_ERR;
    }
    if (!run->wake)
        return TKUSB_ASYNC_REGISTER_ERR;
    if (thread_alive.exchange(true)) // the thread of an earlier registration is still ending
        return TKUSB_EVENT_REGISTER_ERR;
    set_async_registration(callback, run->wake);
    library_thread_starting();
    registered_thread = thread_start(tkusb_platform_io_thread, for_thread.get());
    if (!registered_thread) {
        clear_async_registration();
        library_thread_ended();
        thread_alive.store(false);
        return TKUSB_ASYNC_REGISTER_ERR;
    }
    for_thread.release(); // the thread owns it now
    registered_run = std::move(run);
    return 0;
}

int16_t tkusb_platform_unregister_asyncio()
{
    std::lock_guard<std::mutex> guard(registration_guard);
    if (tkusb_platform_asyncio_registered() != 0 || !registered_run)
        return TKUSB_EVENT_REGISTER_ERR;
    stop_accepting();
    registered_run->stop.store(true);
    event_set(registered_run->wake);
    const bool ended = thread_join(registered_thread, 2u * registered_run->timeout_ms);
    thread_release(registered_thread);
    registered_thread = nullptr;
    clear_async_registration();
    registered_run.reset();
    return ended ? 0 : TKUSB_EVENT_TIMEOUT_ERR;
}

} // namespace kv4
