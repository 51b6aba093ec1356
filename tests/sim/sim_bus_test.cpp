// The simulated bus as the core sees it: which monitors are present under which paths, the
// sharing rule, handles that die with their monitor, strings and report layouts.
#include "platform/sim/sim_bus.h"
#include "sim/sim_handles.h"

#include <algorithm>
#include <cctype>

namespace {

using kv4::hid_access;
using kv4test::SimBus;

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

std::u16string text(const uint16_t *s)
{
    return std::u16string(s, s + std::char_traits<char16_t>::length(reinterpret_cast<const char16_t *>(s)));
}

TEST_F(SimBus, ListsPluggedMonitorsInAttachOrderAndAReattachOnANewSocketGetsANewPath)
{
    kv4sim_monitor *a = kv4sim_attach(nullptr);
    kv4sim_monitor *b = kv4sim_attach(nullptr);
    const std::string path_a = kv4sim_path(a), path_b = kv4sim_path(b);
    EXPECT_NE(path_a, path_b);
    EXPECT_EQ(paths(), (std::vector<std::string>{path_a, path_b}));
    EXPECT_TRUE(hid.check_present(upper(path_a).c_str())); // Windows ignores letter case

    ASSERT_EQ(kv4sim_detach(a), 0);
    EXPECT_FALSE(hid.check_present(path_a.c_str()));
    EXPECT_EQ(paths(), std::vector<std::string>{path_b});
    ASSERT_EQ(kv4sim_reattach(a, 0), 0);
    EXPECT_EQ(kv4sim_reattach(a, 0), KV4SIM_INVALID_PARAMETER); // already plugged in
    EXPECT_EQ(paths(), (std::vector<std::string>{path_b, path_a}));

    kv4sim_detach(b);
    ASSERT_EQ(kv4sim_reattach(b, 1), 0);
    EXPECT_NE(kv4sim_path(b), path_b);
    EXPECT_FALSE(hid.check_present(path_b.c_str()));
    EXPECT_TRUE(hid.check_present(kv4sim_path(b)));
}

TEST_F(SimBus, OneHandleAtATimeWhateverItsAccess)
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
    hid.close(h);

    kv4sim_set_fault(m, KV4SIM_FAULT_HELD_OPEN, 1);
    error = 0;
    EXPECT_EQ(open(m, hid_access::probe, &error), nullptr);
    EXPECT_EQ(error, kv4::error_sharing_violation);
    kv4sim_detach(m);
    EXPECT_EQ(open(m, hid_access::probe, &error), nullptr);
    EXPECT_EQ(error, 2u); // not found
}

TEST_F(SimBus, AHandleDiesWithItsMonitorAndAReattachedMonitorOpensAfresh)
{
    kv4sim_monitor *m = kv4sim_attach(nullptr);
    kv4::hid_handle h = open(m);
    uint16_t buffer[64];
    uint16_t id = 0;
    kv4sim_detach(m);
    kv4sim_reattach(m, 0);
    EXPECT_FALSE(hid.product_string(h, buffer, sizeof buffer));
    EXPECT_FALSE(hid.product_id(h, &id));
    EXPECT_FALSE(hid.flush_input(h));
    EXPECT_EQ(hid.get_preparsed(h), nullptr);
    kv4::hid_handle again = open(m);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(hid.product_id(again, &id));
    hid.close(h);
    hid.close(again);
    kv4sim_destroy(m);
    EXPECT_EQ(kv4sim_path(m), nullptr);
}

TEST_F(SimBus, StringsAreTerminatedUtf16CutToTheBufferAndCanBeRefused)
{
    kv4sim_attach(nullptr);
    kv4sim_monitor_desc desc{};
    desc.product = "Z\xC3\xBCrich \xF0\x9F\x9A\xB2"; // "Zürich" and a bicycle beyond the BMP
    desc.product_id = 0x0042;
    kv4sim_monitor *m = kv4sim_attach(&desc);
    kv4::hid_handle h = open(m, hid_access::probe);
    uint16_t buffer[63];
    ASSERT_TRUE(hid.product_string(h, buffer, 125));
    EXPECT_EQ(text(buffer), u"Z\u00FCrich \U0001F6B2");
    ASSERT_TRUE(hid.serial_string(h, buffer, 125));
    EXPECT_EQ(text(buffer), u"SIM00002"); // counted per attach
    const std::u16string indexed[] = {u"SIM00002", u"SIM-FW 1.00", u"SIM-HW A", u"SIM-BL 1.00"};
    for (unsigned index = 3; index <= 6; ++index) {
        ASSERT_TRUE(hid.indexed_string(h, index, buffer, 125));
        EXPECT_EQ(text(buffer), indexed[index - 3]);
    }
    EXPECT_FALSE(hid.indexed_string(h, 2, buffer, 125));
    EXPECT_FALSE(hid.indexed_string(h, 7, buffer, 125));
    ASSERT_TRUE(hid.product_string(h, buffer, 7)); // room for 2 characters and the terminator
    EXPECT_EQ(text(buffer), u"Z\u00FC");

    kv4sim_set_fault(m, KV4SIM_FAULT_REFUSE_STRINGS, 1);
    EXPECT_FALSE(hid.product_string(h, buffer, 125));
    EXPECT_FALSE(hid.indexed_string(h, 4, buffer, 125));
    uint16_t id = 0;
    EXPECT_TRUE(hid.product_id(h, &id));
    EXPECT_EQ(id, 0x0042);
    hid.close(h);
}

TEST_F(SimBus, ValueCapsAreTheLayoutsAsTheParserDeliversThem)
{
    const kv4sim_value_cap caps[] = {
        {KV4SIM_INPUT, 7, 1, 8}, {KV4SIM_OUTPUT, 9, 2, 64}, {KV4SIM_INPUT, 7, 3, 40}, {KV4SIM_FEATURE, 1, 4, 16}};
    kv4sim_monitor_desc desc{};
    desc.caps = caps;
    desc.ncaps = 4;
    kv4sim_monitor *m = kv4sim_attach(&desc);
    kv4::hid_handle h = open(m);
    kv4::hid_preparsed p = hid.get_preparsed(h);
    ASSERT_NE(p, nullptr);
    kv4::hid_caps counts;
    ASSERT_TRUE(hid.get_caps(p, &counts));
    EXPECT_EQ(counts.input_value_caps, 2);
    EXPECT_EQ(counts.output_value_caps, 1);
    EXPECT_EQ(counts.feature_value_caps, 1);
    kv4::hid_value_cap got[4];
    uint16_t n = 4;
    ASSERT_TRUE(hid.get_value_caps(p, kv4::hid_report_type::input, got, &n));
    ASSERT_EQ(n, 2); // both, duplicate usage and all, in layout order
    EXPECT_EQ(got[0].usage, 7);
    EXPECT_EQ(got[0].report_count, 8);
    EXPECT_EQ(got[1].report_id, 3);
    EXPECT_EQ(got[1].report_count, 40);
    n = 1;
    ASSERT_TRUE(hid.get_value_caps(p, kv4::hid_report_type::input, got, &n));
    EXPECT_EQ(n, 1);
    hid.free_preparsed(p);

    kv4sim_set_fault(m, KV4SIM_FAULT_REFUSE_VALUE_CAPS, 1);
    p = hid.get_preparsed(h);
    n = 4;
    EXPECT_FALSE(hid.get_value_caps(p, kv4::hid_report_type::output, got, &n));
    hid.free_preparsed(p);
    kv4sim_set_fault(m, KV4SIM_FAULT_REFUSE_PREPARSED, 1);
    EXPECT_EQ(hid.get_preparsed(h), nullptr);
    hid.close(h);
}

TEST_F(SimBus, BadArgumentsAreRefused)
{
    const kv4sim_value_cap empty_report = {KV4SIM_INPUT, 1, 1, 0};
    const kv4sim_value_cap unknown_type = {3, 1, 1, 8};
    kv4sim_monitor_desc desc{};
    desc.ncaps = 1;
    EXPECT_EQ(kv4sim_attach(&desc), nullptr);
    desc.caps = &empty_report;
    EXPECT_EQ(kv4sim_attach(&desc), nullptr);
    desc.caps = &unknown_type;
    EXPECT_EQ(kv4sim_attach(&desc), nullptr);

    kv4sim_monitor *m = kv4sim_attach(nullptr);
    uint8_t byte = 0;
    kv4sim_wire_entry entry;
    EXPECT_EQ(kv4sim_set_fault(m, 0, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_set_fault(m, KV4SIM_FAULT_REFUSE_VALUE_CAPS + 1, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_read_memory(m, 4, 0, &byte, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_read_memory(m, KV4SIM_EEPROM, 8191, &byte, 1), 0);
    EXPECT_EQ(kv4sim_read_memory(m, KV4SIM_EEPROM, 8192, &byte, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_write_memory(m, KV4SIM_RAM, 0, nullptr, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_wire_get(m, 0, &entry), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_announce_volume(0, 1, 0, "X"), KV4SIM_INVALID_PARAMETER);
    kv4sim_destroy(m);
    EXPECT_EQ(kv4sim_detach(m), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_set_status_word(m, 1), KV4SIM_INVALID_PARAMETER);
    EXPECT_EQ(kv4sim_wire_count(m), 0u);
}

// What a device-change source hears from the bus.
struct heard {
    std::vector<std::string> events;
    static void device(const char *path, bool arrived, void *context)
    {
        static_cast<heard *>(context)->events.push_back((arrived ? "+" : "-") + std::string(path));
    }
    static void volume(uint32_t unitmask, bool arrived, uint16_t flags, void *context)
    {
        static_cast<heard *>(context)->events.push_back((arrived ? "+v" : "-v") + std::to_string(unitmask) + "/" +
                                                        std::to_string(flags));
    }
};

TEST_F(SimBus, PlugEventsReachTheListenerInOrderAndVolumesKeepTheirLabels)
{
    heard h;
    const kv4::sim::plug_listener listener{&heard::device, &heard::volume, &h};
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
    EXPECT_EQ(h.events,
              (std::vector<std::string>{"+" + first, "-" + first, "+" + second, "+v48/0", "-v16/1", "-" + second}));
    char label[16];
    EXPECT_FALSE(kv4::sim::volume_label(4, label, sizeof label)); // E: left
    ASSERT_TRUE(kv4::sim::volume_label(5, label, sizeof label));
    EXPECT_STREQ(label, "TRAINING");
    kv4sim_reset();
    EXPECT_FALSE(kv4::sim::volume_label(5, label, sizeof label));
}

} // namespace
