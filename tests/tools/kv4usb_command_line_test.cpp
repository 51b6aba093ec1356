// kv4usb's command line: numbers, options, usage errors and help, none of which may start the
// library; and the progress lines a transfer prints.
#include "arguments.h"
#include "failures.h"
#include "progress.h"
#include "tools/kv4usb_fixture.h"

#include <tuple>

namespace {

using kv4test::contains;
using kv4test::Kv4usbTest;
using kv4usb::parse_number;

TEST(Kv4usbNumbers, DecimalAndHexUpToTheLimitAndNothingElse)
{
    EXPECT_EQ(parse_number("4294967295", UINT32_MAX), UINT32_MAX);
    EXPECT_EQ(parse_number("0xFFFFffff", UINT32_MAX), UINT32_MAX);
    EXPECT_EQ(parse_number("0X1f", 31), 31u);
    EXPECT_EQ(parse_number("010", 100), 10u); // a leading zero is no octal
    for (const char *text :
         {"", "0x", "-1", "+1", " 1", "1 ", "12a", "0x1g", "1e3", "x10", "4294967296", "0x100000000"})
        EXPECT_FALSE(parse_number(text, UINT32_MAX)) << '\'' << text << '\'';
    EXPECT_FALSE(parse_number("5", 1)); // a digit above a tiny limit
    EXPECT_FALSE(parse_number("99999999999999999999999", UINT64_MAX));

    const kv4usb::arguments args("echo", {"0", "00fFa5", "abc", "zz", ""});
    EXPECT_EQ(args.hex_bytes(1, "HEXBYTES", 511), (std::vector<uint8_t>{0x00, 0xFF, 0xA5}));
    EXPECT_THROW(args.hex_bytes(1, "HEXBYTES", 2), kv4usb::usage_error);
    for (std::size_t i : {2, 3, 4})
        EXPECT_THROW(args.hex_bytes(i, "HEXBYTES", 511), kv4usb::usage_error) << args.text(i);
}

TEST_F(Kv4usbTest, UsageErrorsExitWithTwoAndNameTheCommandWithoutStartingTheLibrary)
{
    // Arguments, the complaint and the usage line that must follow it.
    const std::tuple<std::vector<std::string>, const char *, const char *> cases[] = {
        {{"frobnicate"}, "unknown command 'frobnicate'", "usage: kv4usb [--simulate"},
        {{}, "no command given", "usage: kv4usb [--simulate"},
        {{"--verbose", "list"}, "unknown option '--verbose'", "usage: kv4usb [--simulate"},
        {{"--simulate=256", "list"}, "--simulate=N", "usage: kv4usb [--simulate"},
        {{"list", "--simulate=0"}, "--simulate=N", "usage: kv4usb [--simulate"},
        {{"read", "eeprom", "0", "0"}, "read takes 5 arguments, not 3", "usage: kv4usb read REGION"},
        {{"special", "0", "0x10000", "1"}, "ARG1: '0x10000' is not a number", "usage: kv4usb special"},
        {{"read", "rom", "0", "0", "4", "f"}, "REGION: 'rom' is none of", "usage: kv4usb read"},
        {{"read", "flash", "0", "1", "4", "f"}, "must be even", "usage: kv4usb read"},
        {{"read", "eeprom", "0", "0xFFF0", "17", "f"}, "go past 0x0000FFFF", "usage: kv4usb read"},
        {{"read", "ram", "0", "0xFFFFFFFF", "2", "f"}, "go past 0xFFFFFFFF", "usage: kv4usb read"},
        {{"echo", "0", "0g"}, "HEXBYTES: '0g'", "usage: kv4usb echo"},
        {{"echo", "0", std::string(1024, 'a')}, "aaa...' (1024 characters) is not up to 511", "usage: kv4usb echo"},
        {{"help", "frobnicate"}, "unknown command 'frobnicate'", "usage: kv4usb [--simulate"},
        {{"poll", "0", "1", "0"}, "PORT 0 is given twice", "usage: kv4usb poll"},
        {{"poll", "0", "--count=0x186A1"}, "--count=N: N must be a number from 1 to 100000", "usage: kv4usb poll"},
        {{"status", "0", "--count=1"}, "unknown option '--count=1'", "usage: kv4usb [--simulate"},
    };
    for (const auto &[args, complaint, usage] : cases) {
        const kv4test::kv4usb_result r = run_kv4usb(args);
        EXPECT_EQ(r.status, kv4usb::exit_usage) << r.err;
        EXPECT_EQ(r.err.rfind("error: ", 0), 0u) << r.err;
        EXPECT_TRUE(contains(r.err, complaint)) << r.err;
        EXPECT_TRUE(contains(r.err, usage)) << r.err;
        EXPECT_FALSE(contains(r.err, "simulated")) << "a usage error started the library: " << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    const kv4test::kv4usb_result three = run_kv4usb({"list", "--simulate=0x3"});
    EXPECT_EQ(three.status, 0) << three.err;
    EXPECT_TRUE(contains(three.out, "SIM00003") && !contains(three.out, "SIM00004")) << three.out;
    EXPECT_TRUE(three.err.empty()) << three.err;
}

TEST_F(Kv4usbTest, HelpComesEitherWayAndTheOverviewNamesEveryCommand)
{
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"help", "read"}, {"--simulate", "read", "-h"}}) {
        const kv4test::kv4usb_result r = run_kv4usb(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("usage: kv4usb read REGION PORT ADDRESS LENGTH FILE\n", 0), 0u) << r.out;
        EXPECT_TRUE(r.err.empty()) << r.err;
    }
    const kv4test::kv4usb_result overview = run_kv4usb({"--help"});
    EXPECT_EQ(overview.status, 0);
    for (const char *name : {"list", "info", "echo", "status", "special", "feature", "read", "write", "verify", "crc",
                             "update-status", "poll", "watch", "demo"})
        EXPECT_TRUE(contains(overview.out, std::string("\n  ") + name + ' ')) << name;
    EXPECT_EQ(run_kv4usb({"help"}).out, overview.out);
}

TEST(Kv4usbProgress, PlainLinesAtEachQuarterAndABarOnATerminal)
{
    std::ostringstream plain, drawn;
    kv4usb::console log{plain, plain, false}, terminal{drawn, drawn, true};
    kv4usb::progress lines(log, "read", 1000), bar(terminal, "write", 64);
    for (int i = 0; i < 10; ++i)
        lines.advance(100);
    EXPECT_EQ(plain.str(), "read 300/1000 bytes\nread 500/1000 bytes\nread 800/1000 bytes\nread 1000/1000 bytes\n");
    bar.advance(16);
    EXPECT_TRUE(
        contains(drawn.str(), "\rwrite [" + std::string(8, '#') + std::string(24, '.') + "]  25%  16/64 bytes  "));
    EXPECT_TRUE(drawn.str().back() == 's' && drawn.str().find('\n') == std::string::npos) << drawn.str();
    {
        kv4usb::progress cut(terminal, "read", 64);
        cut.advance(32);
    }
    EXPECT_EQ(drawn.str().back(), '\n'); // a bar cut short by a failure still ends its line
}

} // namespace
