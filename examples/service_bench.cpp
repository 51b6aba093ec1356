// service_bench.cpp - a service bench: identify a monitor, write a firmware image to its flash in
// the largest blocks its port allows, verify it by reading it back and by the monitor's own CRC,
// and carry on when the monitor is unplugged halfway through the write.
//
// Built against the simulator library, whose monitor is unplugged on cue and plugged back in as a
// technician would; against KV4USBCP.dll or libkv4usbcp.so the same code, without the kv4sim_
// lines, services a monitor on the USB bus. Exit code 0 when the image is on the monitor intact.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "kv4usbcp.h"
#include "kv4usbcp_sim.h"

namespace {

constexpr uint32_t image_size = 200 * 1024;

std::string describe(int16_t code)
{
    char name[37] = {}, text[141] = {};
    tkcmdsetUSB_get_error_name(code, name, sizeof name - 1);
    tkcmdsetUSB_get_error_text(code, text, sizeof text - 1);
    return std::to_string(code) + " " + name + ": " + text;
}

bool ok(const char *what, int16_t code)
{
    if (code != 0)
        std::printf("%s: %s\n", what, describe(code).c_str());
    return code == 0;
}

// CRC-32 with zlib's polynomial, as the monitor computes the CRC of an image.
uint32_t crc32(const std::vector<uint8_t> &bytes)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The largest flash blocks, in 16-bit words, for a port whose largest report holds `largest`
// bytes (the library sizes blocks as if it held at most 500). A write frame carries 7 bytes before
// the data and an even count: M - 9, made even. A read's answer is its status byte and the data,
// and a report delivers one byte less than its size, so a read arrives whole up to M - 2 bytes.
struct block_sizes {
    uint32_t write_words, read_words;
};
block_sizes largest_blocks(uint16_t largest)
{
    const uint32_t m = std::min<uint32_t>(largest, 500);
    return {((m - 9) & ~1u) / 2, ((m - 2) & ~1u) / 2};
}

// Codes after which the port is closed: the monitor is taken to be gone. (A block too large for
// the port gives the same two codes with the port still open; these blocks never are.)
bool port_closed_by(int16_t code)
{
    return code == TKUSB_WRITE_FAILED_ERR || code == TKUSB_READ_FAILED_ERR || code == TKUSB_DEVICE_CLOSED_ERR;
}

// Waits, at most ten seconds, for the monitor to be back. Discovery opens it again under its old
// port number, since the library knows a monitor by its serial number.
bool rediscover(uint16_t port)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        uint16_t ports[255];
        uint8_t count = 0;
        if (!ok("find_devices", tkcmdsetUSB_find_devices("Quillon5", &count, ports)))
            return false;
        if (std::find(ports, ports + count, port) != ports + count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::printf("port %u did not come back\n", unsigned{port});
    return false;
}

// Prints a line at every quarter of the work.
struct progress {
    const char *what;
    unsigned next = 1;
    void at(uint32_t done)
    {
        while (next <= 4 && done >= image_size / 4 * next)
            std::printf("%s: %3u %% (%u of %u bytes)\n", what, 25 * next++, unsigned{done}, unsigned{image_size});
    }
};

bool write_image(uint16_t port, kv4sim_monitor *monitor, const std::vector<uint8_t> &image, uint32_t words_per_block)
{
    progress shown{"writing"};
    bool unplugged = false;
    for (uint32_t address = 0; address < image_size;) {
        if (!unplugged && address >= image_size / 2) {
            kv4sim_set_fault(monitor, KV4SIM_FAULT_UNPLUG_ON_WRITE, 1); // the cable is pulled
            unplugged = true;
        }
        const uint32_t words = std::min(words_per_block, (image_size - address) / 2);
        // Three answer bytes: a refusal's status byte and the monitor's code behind it.
        uint16_t response_length = 3;
        // Flash addresses count bytes, block sizes 16-bit words.
        const int16_t code =
            tkcmdsetUSB_write_flashblk16(port, address, image.data() + address, words, &response_length);
        if (port_closed_by(code)) {
            std::printf("monitor lost at byte %u: %s\n", unsigned{address}, describe(code).c_str());
            kv4sim_reattach(monitor, 1); // plugged back in, into another socket
            if (!rediscover(port))
                return false;
            std::printf("monitor back on port %u: resuming at byte %u\n", unsigned{port}, unsigned{address});
            continue; // the block may be half written: write it again
        }
        if (!ok("write_flashblk16", code))
            return false;
        address += 2 * words;
        shown.at(address);
    }
    return true;
}

bool verify_image(uint16_t port, const std::vector<uint8_t> &image, uint32_t words_per_block)
{
    progress shown{"reading back"};
    std::vector<uint8_t> block(2 * words_per_block);
    for (uint32_t address = 0; address < image_size;) {
        const uint32_t words = std::min(words_per_block, (image_size - address) / 2);
        // The status byte and the data; fewer would leave the last bytes zero, with result 0.
        uint16_t response_length = static_cast<uint16_t>(2 * words + 1);
        if (!ok("read_flashblk16", tkcmdsetUSB_read_flashblk16(port, address, block.data(), words, &response_length)))
            return false;
        if (!std::equal(block.begin(), block.begin() + 2 * words, image.begin() + address)) {
            std::printf("flash differs from the image in the block at byte %u\n", unsigned{address});
            return false;
        }
        address += 2 * words;
        shown.at(address);
    }
    // The monitor's CRC of the region; the library waits 1 s + 0.0228 ms per byte for it.
    uint32_t crc = 0;
    uint16_t response_length = 5;
    if (!ok("get_image_crc", tkcmdsetUSB_get_image_crc(port, 0, &crc, image_size, &response_length)))
        return false;
    std::printf("image CRC 0x%08X, monitor's 0x%08X\n", unsigned{crc32(image)}, unsigned{crc});
    return crc == crc32(image);
}

bool identify(uint16_t port)
{
    char serial[64] = {}, firmware[64] = {};
    uint16_t largest = 0;
    if (!ok("serial_number", tkcmdsetUSB_serial_number(port, serial, sizeof serial - 1)) ||
        !ok("fw_version", tkcmdsetUSB_fw_version(port, firmware, sizeof firmware - 1)) ||
        !ok("max_report_size", tkcmdsetUSB_max_report_size(port, &largest)))
        return false;
    std::printf("port %u: serial %s, firmware %s, largest report %u bytes\n", unsigned{port}, serial, firmware,
                unsigned{largest});
    return largest > 9;
}

} // namespace

int main()
{
    kv4sim_monitor *monitor = kv4sim_attach(nullptr);
    uint16_t ports[255];
    uint8_t count = 0;
    if (!monitor || !ok("init", tkcmdsetUSB_init()) ||
        !ok("find_devices", tkcmdsetUSB_find_devices("Quillon5", &count, ports)) || count != 1)
        return 1;
    const uint16_t port = ports[0];

    std::vector<uint8_t> image(image_size);
    for (uint32_t i = 0; i < image_size; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + (i >> 9));

    bool done = identify(port);
    uint16_t largest = 0;
    tkcmdsetUSB_max_report_size(port, &largest);
    const block_sizes blocks = largest_blocks(largest);
    if (done)
        std::printf("blocks of %u words written, %u read\n", unsigned{blocks.write_words}, unsigned{blocks.read_words});
    done =
        done && write_image(port, monitor, image, blocks.write_words) && verify_image(port, image, blocks.read_words);
    ok("shutdown_all", tkcmdsetUSB_shutdown_all());
    kv4sim_destroy(monitor);
    std::printf("%s\n", done ? "image written and verified" : "FAILED");
    return done ? 0 : 1;
}
