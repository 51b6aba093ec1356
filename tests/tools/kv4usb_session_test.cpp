// kv4usb against simulated monitors: the demo, transfers through files, the fallback to the
// simulator, and how failures are reported. A monitor the test plugs in itself is what kv4usb
// finds without --simulate, since the test program's default backend is the simulated bus.
#include "demo.h"
#include "tools/kv4usb_fixture.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace {

using kv4test::contains;
using kv4test::Kv4usbTest;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// CRC-32 as zlib computes it, table-driven.
uint32_t zlib_crc32(const Bytes &data)
{
    uint32_t table[256];
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data)
        crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

Bytes pattern(std::size_t size, unsigned seed)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
    return bytes;
}

Bytes memory(kv4sim_monitor *monitor, int region, uint32_t address, std::size_t size)
{
    Bytes bytes(size);
    EXPECT_EQ(kv4sim_read_memory(monitor, region, address, bytes.data(), size), 0);
    return bytes;
}

std::string hex8(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

class Kv4usbFiles : public Kv4usbTest {
  protected:
    void SetUp() override
    {
        Kv4usbTest::SetUp();
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = fs::temp_directory_path() / ("kv4usb_" + test + "_" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        fs::remove_all(dir_);
        Kv4usbTest::TearDown();
    }
    std::string path(const char *name) const { return (dir_ / name).string(); }
    void save(const char *name, const Bytes &bytes) const
    {
        std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    }
    Bytes load(const char *name) const
    {
        std::ifstream file(path(name), std::ios::binary);
        return Bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

  private:
    fs::path dir_;
};

TEST_F(Kv4usbTest, DemoListsWritesVerifiesAndChecksTheImageCrc)
{
    const kv4test::kv4usb_result r = run_kv4usb({"demo"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_TRUE(contains(r.out, "\n0     SIM00001   SIM-FW 1.00\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "verify: 1024 bytes of eeprom at 0x00000000 match")) << r.out;
    EXPECT_TRUE(contains(r.out, "read 65536/65536 bytes\n")) << r.out;
    const std::string crc = hex8(zlib_crc32(kv4usb::demo_flash_image()));
    EXPECT_TRUE(contains(r.out, "image CRC " + crc + "; CRC-32 of the bytes read " + crc)) << r.out;
    EXPECT_LE(kv4test::count_lines(r.out), 40u);
    // The library is stopped again.
    uint16_t ports[255];
    EXPECT_EQ(tkcmdsetUSB_find_devices("Quillon5", nullptr, ports), TKUSB_NO_PORT_INIT_ERR);
}

TEST_F(Kv4usbTest, WithoutMonitorsItFallsBackToOneSimulatedMonitorAndSaysSoOnce)
{
    const kv4test::kv4usb_result r = run_kv4usb({"list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "kv4usb: no monitor found; using a simulated monitor instead\n");
    EXPECT_EQ(r.out, "port  serial     firmware\n0     SIM00001   SIM-FW 1.00\n");
}

TEST_F(Kv4usbTest, FailuresNameTheCodeAndItsSentence)
{
    kv4sim_attach(nullptr);
    const kv4test::kv4usb_result unknown = run_kv4usb({"status", "7"});
    EXPECT_EQ(unknown.status, kv4usb::exit_failure);
    EXPECT_EQ(unknown.err.rfind("error: status of port 7 failed: -10100 TKUSB_INVALID_PORT_ERR \u2014 ", 0), 0u)
        << unknown.err;

    const kv4test::kv4usb_result refused = run_kv4usb({"crc", "0", "0", "0x100002"});
    EXPECT_EQ(refused.status, kv4usb::exit_failure);
    EXPECT_TRUE(contains(refused.err, "failed: -20101 KV4FLASH_INVALID_CRC_END_ERR \u2014 ")) << refused.err;
    EXPECT_TRUE(refused.out.empty()) << refused.out;
}

TEST_F(Kv4usbTest, ServiceCommandsReportTheMonitorsAnswers)
{
    kv4sim_monitor *monitor = kv4sim_attach(nullptr);
    kv4sim_set_status_word(monitor, 0x12345678);
    kv4sim_set_update_status(monitor, 0x0102, 0x0304);
    kv4sim_set_v3_update_status(monitor, 0x05060708, 0x090A);
    EXPECT_EQ(run_kv4usb({"status", "0"}).out, "status 0x12345678\n");
    EXPECT_EQ(run_kv4usb({"special", "0", "1", "0x00010000"}).out, "special 0x0001 0x00010000 answered 0x00000001\n");
    EXPECT_EQ(run_kv4usb({"update-status", "0"}).out,
              "update status     0x0102 0x0304\nV3 update status  0x05060708 0x090A\n");
    const Bytes flash = pattern(4096, 3);
    kv4sim_write_memory(monitor, KV4SIM_FLASH, 0x1000, flash.data(), flash.size());
    EXPECT_EQ(run_kv4usb({"crc", "0", "0x1000", "4096"}).out,
              "image CRC " + hex8(zlib_crc32(flash)) + " of 4096 bytes at 0x00001000\n");
}

TEST_F(Kv4usbFiles, EveryRegionMakesARoundTripThroughFiles)
{
    // Reports of 64 bytes: many blocks, and the library refuses any block that is too long.
    kv4sim_value_cap caps[] = {
        {KV4SIM_INPUT, 0x101, 1, 64}, {KV4SIM_OUTPUT, 0x102, 2, 64}, {KV4SIM_FEATURE, 0x103, 3, 2}};
    kv4sim_monitor_desc desc{};
    desc.caps = caps;
    desc.ncaps = 3;
    kv4sim_monitor *monitor = kv4sim_attach(&desc);
    const struct {
        const char *name;
        int region;
        uint32_t address;
    } regions[] = {{"eeprom", KV4SIM_EEPROM, 0x100},
                   {"ram", KV4SIM_RAM, 0x2001},
                   {"flash", KV4SIM_FLASH, 0x4000},
                   {"spiflash", KV4SIM_SPI_FLASH, 0x10003}};
    unsigned seed = 0;
    for (const auto &r : regions) {
        const Bytes data = pattern(1000, ++seed);
        save("in.bin", data);
        const std::string address = std::to_string(r.address);
        const kv4test::kv4usb_result written = run_kv4usb({"write", r.name, "0", address, path("in.bin")});
        ASSERT_EQ(written.status, 0) << r.name << ": " << written.err;
        EXPECT_EQ(memory(monitor, r.region, r.address, data.size()), data) << r.name;
        EXPECT_EQ(run_kv4usb({"verify", r.name, "0", address, path("in.bin")}).status, 0) << r.name;
        const kv4test::kv4usb_result read = run_kv4usb({"read", r.name, "0", address, "1000", path("out.bin")});
        ASSERT_EQ(read.status, 0) << r.name << ": " << read.err;
        EXPECT_EQ(load("out.bin"), data) << r.name;
    }
}

TEST_F(Kv4usbFiles, ReadsThatFillAnInputReportExactlyLoseNoByte)
{
    // Answers of 20, 60 and 500 bytes fill the default layout's input reports exactly.
    kv4sim_monitor *monitor = kv4sim_attach(nullptr);
    const Bytes ram = pattern(4096, 9);
    kv4sim_write_memory(monitor, KV4SIM_RAM, 0, ram.data(), ram.size());
    for (uint32_t length : {19u, 59u, 119u, 498u, 499u, 997u}) {
        const kv4test::kv4usb_result r =
            run_kv4usb({"read", "ram", "0", "16", std::to_string(length), path("out.bin")});
        ASSERT_EQ(r.status, 0) << length << ": " << r.err;
        EXPECT_EQ(load("out.bin"), Bytes(ram.begin() + 16, ram.begin() + 16 + length)) << length;
    }
}

TEST_F(Kv4usbFiles, VerifyNamesTheFirstDifferenceAndReadStopsAtARefusal)
{
    kv4sim_monitor *monitor = kv4sim_attach(nullptr);
    Bytes data = pattern(1500, 5);
    kv4sim_write_memory(monitor, KV4SIM_SPI_FLASH, 0x200, data.data(), data.size());
    data[1100] ^= 0x40;
    data[1200] ^= 0x40;
    save("in.bin", data);
    const kv4test::kv4usb_result differs = run_kv4usb({"verify", "spiflash", "0", "0x200", path("in.bin")});
    EXPECT_EQ(differs.status, kv4usb::exit_failure);
    EXPECT_TRUE(contains(differs.err, "first difference at 0x0000064C")) << differs.err;

    // RAM ends at 64 KiB: the monitor refuses the block that crosses it.
    const kv4test::kv4usb_result refused = run_kv4usb({"read", "ram", "0", "0xFF00", "0x200", path("out.bin")});
    EXPECT_EQ(refused.status, kv4usb::exit_failure);
    EXPECT_TRUE(contains(refused.err, "error: ram read of")) << refused.err;
    EXPECT_TRUE(contains(refused.err, "TKCSAFE_DATATAB_INVALID_ADDRESS")) << refused.err;
}

} // namespace
