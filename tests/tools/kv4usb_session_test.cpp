// kv4usb against simulated monitors: the demo, transfers through files, watching events, the
// fallback to the simulator, and how failures are reported. A monitor the test plugs in itself is
// what kv4usb finds without --simulate, since the test program's default backend is the simulated bus.
#include "crc32.h"
#include "demo.h"
#include "format.h"
#include "tools/kv4usb_fixture.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <tuple>

namespace {

using kv4test::contains;
using kv4test::Kv4usbTest;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes pattern(std::size_t size, unsigned seed)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + seed + (i >> 8));
    return bytes;
}

class Kv4usbFiles : public Kv4usbTest {
  protected:
    Kv4usbFiles() { fs::create_directories(dir_); }
    ~Kv4usbFiles() override { fs::remove_all(dir_); }
    std::string path(const char *name) const { return (dir_ / name).string(); }
    void save(const char *name, const Bytes &bytes) const
    {
        std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    }
    Bytes load(const char *name) const
    {
        std::ifstream file(path(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(file), {});
    }

  private:
    const fs::path dir_ = fs::temp_directory_path() / ("kv4usb_test_" + std::to_string(std::random_device{}()));
};

TEST_F(Kv4usbFiles, OnlyTheDemoFallsBackToASimulatedMonitorAndSaysSo)
{
    const kv4test::kv4usb_result r = run_kv4usb({"demo"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "kv4usb: no monitor attached; using a simulated monitor instead\n");
    EXPECT_EQ(loaded,
              (std::vector<kv4usb::library_kind>{kv4usb::library_kind::production, kv4usb::library_kind::simulator}));
    const Bytes image = kv4usb::demo_flash_image();
    const std::string crc = kv4usb::hex(kv4usb::crc32(image.data(), image.size()));
    const std::string parts[] = {"\n0     SIM00001   SIM-FW 1.00\n", "verify: 1024 bytes of eeprom at 0x00000000 match",
                                 "read 65536/65536 bytes\n", "image CRC " + crc + "; CRC-32 of the bytes read " + crc};
    for (const std::string &part : parts)
        EXPECT_TRUE(contains(r.out, part)) << part << " in\n" << r.out;
    uint16_t ports[255];
    EXPECT_EQ(tkcmdsetUSB_find_devices("Quillon5", nullptr, ports), TKUSB_NO_PORT_INIT_ERR); // stopped again

    // A flashing script must not record a success on a monitor nobody can see.
    kv4sim_reset();
    save("in.bin", pattern(64, 1));
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"write", "flash", "0", "0", path("in.bin")}, {"list"}, {"poll", "0"}}) {
        loaded.clear();
        const kv4test::kv4usb_result refused = run_kv4usb(args);
        EXPECT_EQ(refused.status, kv4usb::exit_failure) << args[0];
        EXPECT_EQ(refused.err, "error: no monitor attached (add --simulate to try it on a simulated monitor)\n");
        EXPECT_TRUE(refused.out.empty()) << refused.out;
        EXPECT_EQ(loaded, std::vector<kv4usb::library_kind>{kv4usb::library_kind::production}) << args[0];
    }
}

TEST_F(Kv4usbTest, DemoOnAMonitorAttachedWritesBackOnlyWhatItRead)
{
    kv4sim_monitor *monitor = kv4sim_attach(nullptr);
    Bytes before(1024), after(1024);
    for (std::size_t i = 0; i < before.size(); ++i)
        before[i] = static_cast<uint8_t>(i * 13 + 5);
    kv4sim_write_memory(monitor, KV4SIM_EEPROM, 0, before.data(), before.size());
    const kv4test::kv4usb_result r = run_kv4usb({"demo"});
    EXPECT_EQ(r.status, 0) << r.err;
    kv4sim_read_memory(monitor, KV4SIM_EEPROM, 0, after.data(), after.size());
    EXPECT_EQ(after, before);
}

TEST_F(Kv4usbTest, ServiceCommandsReportTheMonitorsAnswersAndFailuresNameTheCode)
{
    kv4sim_monitor *monitor = kv4sim_attach(nullptr);
    kv4sim_set_status_word(monitor, 0x12345678);
    kv4sim_set_update_status(monitor, 0x0102, 0x0304);
    kv4sim_set_v3_update_status(monitor, 0x05060708, 0x090A);
    kv4sim_write_memory(monitor, KV4SIM_FLASH, 0x1000, "123456789", 9);
    const std::pair<std::vector<std::string>, const char *> answered[] = {
        {{"status", "0"}, "status 0x12345678\n"},
        {{"special", "0", "1", "0x00010000"}, "special 0x0001 0x00010000 answered 0x00000001\n"},
        {{"update-status", "0"}, "update status     0x0102 0x0304\nV3 update status  0x05060708 0x090A\n"},
        {{"crc", "0", "0x1000", "9"}, "image CRC 0xCBF43926 of 9 bytes at 0x00001000\n"},
    };
    for (const auto &[args, out] : answered)
        EXPECT_EQ(run_kv4usb(args).out, out);

    const kv4test::kv4usb_result unknown = run_kv4usb({"status", "7"});
    EXPECT_EQ(unknown.status, kv4usb::exit_failure);
    EXPECT_EQ(unknown.err.rfind("error: status of port 7 failed: -10100 TKUSB_INVALID_PORT_ERR \u2014 ", 0), 0u)
        << unknown.err;
}

TEST_F(Kv4usbTest, RefusedIndexedStringsShowAsNotAvailableAndTheMonitorStaysUsable)
{
    kv4sim_set_fault(kv4sim_attach(nullptr), KV4SIM_FAULT_REFUSE_INDEXED_STRINGS, 1);
    const std::string refused = "not available (-10112, refused)";
    const kv4test::kv4usb_result list = run_kv4usb({"list"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "port  serial     firmware\n0     " + refused + ' ' + refused + '\n');
    const kv4test::kv4usb_result info = run_kv4usb({"info", "0"});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(contains(info.out, "  boot loader   " + refused + "\n  max report    500 bytes\n")) << info.out;
    EXPECT_EQ(run_kv4usb({"status", "0"}).out, "status 0x01000000\n");
}

TEST_F(Kv4usbTest, PollCountsEveryExchangeOfEveryPortAndNamesTheFailures)
{
    const kv4test::kv4usb_result r = run_kv4usb({"--simulate=2", "poll", "0", "1", "--count=50"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("100 exchanges on 2 ports in ", 0), 0u) << r.out;
    EXPECT_TRUE(contains(r.out, " ms: 100 answered, 0 failed\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "round trip, send to completion: median ")) << r.out;
    EXPECT_FALSE(contains(r.out, "failures")) << r.out;
    const kv4test::kv4usb_result missing = run_kv4usb({"--simulate", "poll", "0", "7"});
    EXPECT_EQ(missing.status, kv4usb::exit_failure);
    EXPECT_EQ(missing.err.rfind("error: poll of port 7 failed: -10100 TKUSB_INVALID_PORT_ERR \u2014 ", 0), 0u);
    EXPECT_TRUE(std::count(missing.err.begin(), missing.err.end(), '\n') == 1 && missing.out.empty()) << missing.err;

    // A monitor that refuses the write loses its port: the rest of its exchanges cannot be sent.
    kv4sim_attach(nullptr);
    kv4sim_set_fault(kv4sim_attach(nullptr), KV4SIM_FAULT_REFUSE_WRITE, 1);
    const kv4test::kv4usb_result refused = run_kv4usb({"poll", "0", "1", "--count=5"});
    EXPECT_EQ(refused.status, kv4usb::exit_failure);
    EXPECT_TRUE(contains(refused.out, "10 exchanges on 2 ports in ")) << refused.out;
    EXPECT_TRUE(contains(refused.out, " ms: 5 answered, 5 failed\n")) << refused.out;
    EXPECT_TRUE(contains(refused.out, "\nfailures: 4 TKUSB_DEVICE_CLOSED_ERR, 1 TKUSB_WRITE_FAILED_ERR\n"))
        << refused.out;
}

TEST_F(Kv4usbTest, WatchPrintsEveryArrivalRemovalAndVolumeOnceAndInOrder)
{
    const std::string second = "KV4 Quillon5 Monitor  serial SIM00002  product 0x0001\n";
    const kv4test::kv4usb_result r = run_kv4usb({"--simulate", "watch"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "port 0: connected  KV4 Quillon5 Monitor  serial SIM00001  product 0x0001\nport 1: connected  " +
                         second + "port 1: disconnected  " + second + "port 1: connected  " + second +
                         "volume E: arrived  label \"DATA\"\nvolume E: removed\n");

    // Without a monitor it waits for one: no simulated monitor takes its place.
    kv4sim_reset();
    const kv4test::kv4usb_result timed = run_kv4usb({"watch", "--seconds=1"});
    EXPECT_EQ(timed.status, 0);
    EXPECT_EQ(timed.err + timed.out, "kv4usb: watching monitors and volumes for 1 s\n");
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
    const std::tuple<const char *, int, uint32_t> regions[] = {{"eeprom", KV4SIM_EEPROM, 0x100},
                                                               {"ram", KV4SIM_RAM, 0x2001},
                                                               {"flash", KV4SIM_FLASH, 0x4000},
                                                               {"spiflash", KV4SIM_SPI_FLASH, 0x10003}};
    unsigned seed = 0;
    for (const auto &[name, region, at] : regions) {
        const Bytes data = pattern(1000, ++seed);
        save("in.bin", data);
        const std::string address = std::to_string(at);
        const kv4test::kv4usb_result written = run_kv4usb({"write", name, "0", address, path("in.bin")});
        ASSERT_EQ(written.status, 0) << name << ": " << written.err;
        Bytes stored(data.size());
        kv4sim_read_memory(monitor, region, at, stored.data(), stored.size());
        EXPECT_EQ(stored, data) << name;
        EXPECT_EQ(run_kv4usb({"verify", name, "0", address, path("in.bin")}).status, 0) << name;
        const kv4test::kv4usb_result read = run_kv4usb({"read", name, "0", address, "1000", path("out.bin")});
        ASSERT_EQ(read.status, 0) << name << ": " << read.err;
        EXPECT_EQ(load("out.bin"), data) << name;
    }
}

TEST_F(Kv4usbFiles, CommandsSeparatedByDashesShareOneSimulatedMonitor)
{
    save("in.bin", pattern(3000, 5));
    const kv4test::kv4usb_result r = run_kv4usb({"--simulate", "write", "Flash", "0", "0x100", path("in.bin"), "--",
                                                 "verify", "FLASH", "0", "0x100", path("in.bin"), "--", "watch"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "verify: 3000 bytes of flash at 0x00000100 match")) << r.out;
    // A command that cannot run as given stops the run before the first command.
    loaded.clear();
    const kv4test::kv4usb_result wrong =
        run_kv4usb({"--simulate", "write", "flash", "0", "0", path("in.bin"), "--", "crc"});
    EXPECT_EQ(wrong.status, kv4usb::exit_usage);
    EXPECT_TRUE(wrong.out.empty() && loaded.empty()) << wrong.out;
}

TEST_F(Kv4usbFiles, ReadsThatFillAReportLoseNoByteAndRefusedTransfersChangeNothing)
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

    Bytes data(ram.begin(), ram.begin() + 1500);
    data[1100] ^= 0x40;
    data[1200] ^= 0x40;
    save("in.bin", data);
    const kv4test::kv4usb_result differs = run_kv4usb({"verify", "ram", "0", "0", path("in.bin")});
    EXPECT_EQ(differs.status, kv4usb::exit_failure);
    EXPECT_TRUE(contains(differs.err, "first difference at 0x0000044C")) << differs.err;
    // RAM ends at 64 KiB: the monitor refuses the block that crosses it.
    const kv4test::kv4usb_result refused = run_kv4usb({"read", "ram", "0", "0xFF00", "0x200", path("refused.bin")});
    EXPECT_EQ(refused.status, kv4usb::exit_failure);
    EXPECT_EQ(refused.err.rfind("error: ram read of", 0), 0u) << refused.err;
    EXPECT_TRUE(contains(refused.err, "failed: -10179 TKCSAFE_DATATAB_INVALID_ADDRESS \u2014 ")) << refused.err;
    EXPECT_TRUE(contains(refused.err, "(address outside the memory)\n")) << refused.err;
    EXPECT_TRUE(refused.out.empty()) << refused.out;
    EXPECT_FALSE(fs::exists(path("refused.bin")) || fs::exists(path("refused.bin.part")));

    // 9000 bytes do not fit the monitor's 8 KiB of EEPROM: not one of them is written.
    const Bytes eeprom = pattern(8192, 3);
    kv4sim_write_memory(monitor, KV4SIM_EEPROM, 0, eeprom.data(), eeprom.size());
    save("in.bin", Bytes(9000, 0xA5));
    const kv4test::kv4usb_result oversized = run_kv4usb({"write", "eeprom", "0", "0", path("in.bin")});
    EXPECT_EQ(oversized.status, kv4usb::exit_failure);
    EXPECT_TRUE(contains(oversized.err, "nothing written, as the read of its last byte at 0x00002327 failed: -10179"))
        << oversized.err;
    Bytes stored(eeprom.size());
    kv4sim_read_memory(monitor, KV4SIM_EEPROM, 0, stored.data(), stored.size());
    EXPECT_EQ(stored, eeprom);
}

} // namespace
