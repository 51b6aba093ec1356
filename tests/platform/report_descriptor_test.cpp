// Report descriptors read as the Windows HID parser reports them: the monitor's own, the HID class
// definition's boot keyboard and joystick, a vendor descriptor without report IDs, and descriptors
// a faulty or hostile device could send.
#include "platform/linux/hid_report_descriptor.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

// "length: usage@id*count ..." (decimal) for input | output | feature, or the reason for refusing;
// then " / id=length ..." for each output and feature report of its own length.
std::string parsed(const std::string &hex)
{
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    kv4::descriptor_caps out;
    const char *reason = nullptr;
    if (!kv4::parse_report_descriptor(bytes.data(), bytes.size(), out, &reason))
        return reason;
    std::string own;
    for (int id = 0; id < 256; ++id)
        for (const uint16_t length : {out.output_bytes[id], out.feature_bytes[id]})
            if (length)
                own += " " + std::to_string(id) + "=" + std::to_string(length);
    const kv4::hid_caps &c = out.caps;
    const uint16_t lengths[] = {c.input_report_bytes, c.output_report_bytes, c.feature_report_bytes};
    std::string text;
    for (int type = 0; type < 3; ++type) {
        text += (type ? " | " : "") + std::to_string(lengths[type]) + ":";
        for (const kv4::hid_value_cap &v : out.values[type])
            text += " " + std::to_string(v.usage) + "@" + std::to_string(v.report_id) + "*" +
                    std::to_string(v.report_count);
    }
    return text + " /" + own;
}

std::string operator*(const std::string &hex, int times) { return times > 0 ? hex + hex * (times - 1) : ""; }

// Buttons (1-bit and array items) and padding give no value; usages on one value item come back
// last first (joystick: Y 49, X 48), the last taking the remaining fields; a range counts 1; a
// constant item with a usage is a value; lengths count the report ID byte.
TEST(ReportDescriptor, ReadsAsWindowsDoesAndRefusesMalformedOnes)
{
    const std::pair<std::string, const char *> cases[] = {
        {"0600ff0901a101150026ff007508850109019514810285020902953c810285030903957881028504090496f401810285010901"
         "9514910285020902953c910285030903957891028504090496f4019102850509059520b102c0",
         "501: 1@1*20 2@2*60 3@3*120 4@4*500 | 501: 1@1*20 2@2*60 3@3*120 4@4*500 | 33: 5@5*32 / 1=21 2=61 3=121 4=501 "
         "5=33"},
        {"05010906a101050719e029e715002501750195088102950175088101950575010508190129059102950175039101950675081500"
         "25650507190029658100c0",
         "9: | 2: | 0: / 0=2"}, // boot keyboard
        {"05010904a10105010901a1001581257f75089502a40930093181020939150025033500460e01651495017504814215002501"
         "9502750105091901290265008102c0190329048102b4050209bb95018102c0",
         "5: 49@0*1 48@0*1 57@0*1 187@0*1 | 0: | 0: /"}, // joystick, with Push and Pop
        {"0600ff0901a10175089505091009110912810295020920092109229102193029339504b102fe0200aabb0b4000ff00950181"
         "03750495018103c0",
         "8: 18@0*3 17@0*1 16@0*1 64@0*1 | 3: 33@0*1 32@0*1 | 5: 48@0*1 / 0=3 0=5"},
        {"750896feff09018102", "65535: 1@0*65534 | 0: | 0: /"},
        {"750896ffff09018102", "report longer than 65535 bytes"}, // one byte more: its length would wrap to 0
        {std::string("c0") * 4097, "descriptor longer than 4096 bytes"},
        {"a1010600", "item runs past the end"},
        {"a101fe05000102", "item runs past the end"},
        {"fe00aa", "0: | 0: | 0: /"},                 // a long item of no data bytes ends the descriptor
        {"950409018102", "1: 1@0*4 | 0: | 0: /"},     // no Report Size yet: fields of no bits take no room
        {"7508950129058102", "2: 0@0*1 | 0: | 0: /"}, // a range given only its maximum starts at usage 0
        {"b4", "Pop without Push"},
        {std::string("a4") * 17, "Push nested deeper than 16"},
        {"c0", "End Collection without Collection"},
        {std::string("a101") * 32, "collection left open"}, // 32 deep is allowed, 33 is not
        {std::string("a101") * 33, "collections nested deeper than 32"},
        {"8500", "report ID outside 1..255"},
        {"9700000100", "report count above 65535"},
        {"77ffffffff96ffff8102", "report longer than 65535 bytes"},
        {"75089501" + std::string("09018102") * 256, "more than 255 value capabilities of one report type"},
        {std::string("0901") * 257, "more than 256 usages on one item"},
        {"f4", "unknown global item"},
    };
    for (const auto &[descriptor, expected] : cases)
        EXPECT_EQ(parsed(descriptor), expected) << descriptor;
}

} // namespace
