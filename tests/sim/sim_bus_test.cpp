// The simulated bus as the core sees it: which monitors are present under which paths, the
// sharing rule, handles that die with their monitor, strings, report layouts and plug events.
#include "platform/sim/sim_bus.h"
#include "sim/sim_handles.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <tuple>

namespace {

using kv4::hid_access;
using kv4test::SimBus;

std::vector<std::string> paths(kv4::hid_services &hid)
{
    std::vector<std::string> out;
    hid.list_paths([](const char *path, void *all) { static_cast<std::vector<std::string> *>(all)->push_back(path); },
                   &out);
    return out;
}

std::u16string text(const uint16_t *s) { return std::u16string(reinterpret_cast<const char16_t *>(s)); }

TEST_F(SimBus, ListsPluggedMonitorsInAttachOrderAndAReattachOnANewSocketGetsANewPath)
{
    kv4sim_monitor *a = kv4sim_attach(nullptr);
    kv4sim_monitor *b = kv4sim_attach(nullptr);
    const std::string path_a = kv4sim_path(a), path_b = kv4sim_path(b);
    EXPECT_EQ(paths(hid), (std::vector<std::string>{path_a, path_b}));
    std::string shouted = path_a;
    std::transform(shouted.begin(), shouted.end(), shouted.begin(), [](unsigned char c) { return std::toupper(c); });
    EXPECT_TRUE(hid.check_present(shouted.c_str())); // Windows ignores letter case

    ASSERT_EQ(kv4sim_detach(a), 0);
    EXPECT_FALSE(hid.check_present(path_a.c_str()));
    EXPECT_EQ(paths(hid), std::vector<std::string>{path_b});
    ASSERT_EQ(kv4sim_reattach(a, 0), 0);
    EXPECT_EQ(kv4sim_reattach(a, 0), KV4SIM_INVALID_PARAMETER); // already plugged in
    EXPECT_EQ(paths(hid), (std::vector<std::string>{path_b, path_a}));

    kv4sim_detach(b);
    ASSERT_EQ(kv4sim_reattach(b, 1), 0);
    EXPECT_NE(kv4sim_path(b), path_b);
    EXPECT_FALSE(hid.check_present(path_b.c_str()));
    EXPECT_TRUE(hid.check_present(kv4sim_path(b)));
}

TEST_F(SimBus, OneHandleAtATimeAndItDiesWithItsMonitor)
{
    kv4sim_monitor *m = kv4sim_attach(nullptr);
    uint32_t error = 0;
    kv4::hid_handle probe = open(m, hid_access::probe);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(open(m, hid_access::transfer, &error), nullptr);
    EXPECT_EQ(error, kv4::error_sharing_violation);
    hid.close(probe);
    kv4::hid_handle h = open(m);
    ASSERT_NE(h, nullptr);

    kv4sim_detach(m);
    EXPECT_EQ(open(m, hid_access::probe, &error), nullptr);
    EXPECT_EQ(error, 2u); // not found
    kv4sim_reattach(m, 0);
    uint16_t buffer[64], id = 0;
    EXPECT_FALSE(hid.product_string(h, buffer, sizeof buffer));
    EXPECT_FALSE(hid.product_id(h, &id));
    EXPECT_FALSE(hid.flush_input(h));
    EXPECT_EQ(hid.get_preparsed(h), nullptr);
    kv4::hid_handle again = open(m);
    EXPECT_TRUE(hid.product_id(again, &id));
    hid.close(h);
    hid.close(again);
}

// The product ID; strings as terminated UTF-16 cut to the buffer; value caps in layout order, cut
// to the room given.
TEST_F(SimBus, AHandleDescribesItsMonitorAsTheParserWould)
{
    const kv4sim_value_cap caps[] = {
        {KV4SIM_INPUT, 7, 1, 8}, {KV4SIM_OUTPUT, 9, 2, 64}, {KV4SIM_INPUT, 7, 3, 40}, {KV4SIM_FEATURE, 1, 4, 16}};
    kv4sim_monitor_desc desc{};
    desc.product = "Z\xC3\xBCrich \xF0\x9F\x9A\xB2"; // "Zürich" and a bicycle beyond the BMP
    desc.product_id = 0x0042;
    desc.caps = caps;
    desc.ncaps = 4;
    kv4::hid_handle h = open(kv4sim_attach(&desc));
    uint16_t buffer[63], id = 0;
    ASSERT_TRUE(hid.product_id(h, &id));
    EXPECT_EQ(id, 0x0042);
    ASSERT_TRUE(hid.product_string(h, buffer, 125));
    EXPECT_EQ(text(buffer), u"Z\u00FCrich \U0001F6B2");
    ASSERT_TRUE(hid.product_string(h, buffer, 7)); // room for 2 characters and the terminator
    EXPECT_EQ(text(buffer), u"Z\u00FC");

    kv4::hid_preparsed p = hid.get_preparsed(h);
    kv4::hid_caps counts;
    ASSERT_TRUE(hid.get_caps(p, &counts));
    EXPECT_EQ(std::make_tuple(counts.input_value_caps, counts.output_value_caps, counts.feature_value_caps),
              std::make_tuple(2, 1, 1));
    kv4::hid_value_cap got[4];
    uint16_t n = 4;
    ASSERT_TRUE(hid.get_value_caps(p, kv4::hid_report_type::input, got, &n));
    ASSERT_EQ(n, 2); // a duplicate usage too
    EXPECT_EQ(std::make_tuple(got[0].report_id, got[0].report_count, got[1].report_id, got[1].report_count),
              std::make_tuple(1, 8, 3, 40));
    n = 1;
    ASSERT_TRUE(hid.get_value_caps(p, kv4::hid_report_type::input, got, &n));
    EXPECT_EQ(n, 1);
    hid.free_preparsed(p);
    hid.close(h);
}

TEST_F(SimBus, BadArgumentsAreRefused)
{
    const kv4sim_value_cap bad_caps[] = {{KV4SIM_INPUT, 1, 1, 0}, {3, 1, 1, 8}}; // empty report, unknown type
    kv4sim_monitor_desc desc{};
    desc.ncaps = 1;
    EXPECT_EQ(kv4sim_attach(&desc), nullptr);
    for (const kv4sim_value_cap &cap : bad_caps) {
        desc.caps = &cap;
        EXPECT_EQ(kv4sim_attach(&desc), nullptr);
    }
    kv4sim_monitor *m = kv4sim_attach(nullptr);
    uint8_t byte = 0;
    kv4sim_wire_entry entry;
    EXPECT_EQ(kv4sim_wire_get(m, 0, &entry), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_set_fault(m, 0, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_set_fault(m, KV4SIM_FAULT_CANCEL_STUCK + 1, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_read_memory(m, 4, 0, &byte, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_read_memory(m, KV4SIM_EEPROM, 8191, &byte, 1), 0);
    EXPECT_EQ(kv4sim_read_memory(m, KV4SIM_EEPROM, 8192, &byte, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_write_memory(m, KV4SIM_RAM, 0, nullptr, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_announce_volume(0, 1, 0, "X"), KV4SIM_INVALID_PARAMETER);
    kv4sim_destroy(m);
    EXPECT_EQ(kv4sim_path(m), nullptr);
    EXPECT_EQ(kv4sim_detach(m), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_set_status_word(m, 1), KV4SIM_INVALID_PARAMETER);
}

TEST_F(SimBus, PlugEventsReachTheListenerInOrderAndVolumesKeepTheirLabels)
{
    std::vector<std::string> heard;
    const kv4::sim::plug_listener listener{
        [](const char *path, bool arrived, void *to) {
            static_cast<std::vector<std::string> *>(to)->push_back((arrived ? "+" : "-") + std::string(path));
        },
        [](uint32_t units, bool arrived, uint16_t flags, void *to) {
            static_cast<std::vector<std::string> *>(to)->push_back((arrived ? "+v" : "-v") + std::to_string(units) +
                                                                   "/" + std::to_string(flags));
        },
        &heard};
    kv4::sim::set_plug_listener(&listener);
    kv4sim_monitor *m = kv4sim_attach(nullptr);
    const std::string first = kv4sim_path(m);
    kv4sim_detach(m);
    kv4sim_reattach(m, 1);
    const std::string second = kv4sim_path(m);
    ASSERT_EQ(kv4sim_announce_volume(1u << 4 | 1u << 5, 1, 0, "TRAINING"), 0);
    kv4sim_announce_volume(1u << 4, 0, 1, nullptr);
    kv4sim_destroy(m);
    kv4::sim::set_plug_listener(nullptr);
    EXPECT_EQ(heard,
              (std::vector<std::string>{"+" + first, "-" + first, "+" + second, "+v48/0", "-v16/1", "-" + second}));
    char label[16];
    EXPECT_FALSE(kv4::sim::volume_label(4, label, sizeof label)); // E: left
    ASSERT_TRUE(kv4::sim::volume_label(5, label, sizeof label));
    EXPECT_STREQ(label, "TRAINING");
    kv4sim_reset();
    EXPECT_FALSE(kv4::sim::volume_label(5, label, sizeof label));
}

} // namespace
