#include "cli.h"

#include "command_table.h"
#include "failures.h"

#include <optional>

namespace kv4usb {

namespace {

constexpr const char *general_usage = "usage: kv4usb [--simulate[=N]] COMMAND [ARGUMENTS]  (kv4usb --help lists them)";

struct invocation {
    std::optional<unsigned> simulated;
    bool help = false;
    std::vector<std::string> words;   // the command and its arguments
    std::vector<std::string> options; // any other option: the command's own, or unknown
};

void read_option(const std::string &option, invocation &inv)
{
    const std::string simulate = "--simulate";
    if (option == "--help" || option == "-h") {
        inv.help = true;
    } else if (option == simulate) {
        inv.simulated = 1;
    } else if (option.compare(0, simulate.size() + 1, simulate + "=") == 0) {
        const std::optional<uint64_t> count = parse_number(option.substr(simulate.size() + 1), 255);
        if (!count || *count == 0)
            throw usage_error("", "--simulate=N: N must be a number from 1 to 255, not '" +
                                      option.substr(simulate.size() + 1) + "'");
        inv.simulated = static_cast<unsigned>(*count);
    } else {
        inv.options.push_back(option);
    }
}

invocation read_invocation(const std::vector<std::string> &args)
{
    invocation inv;
    for (const std::string &arg : args) {
        if (arg.compare(0, 2, "--") == 0 || arg == "-h")
            read_option(arg, inv);
        else
            inv.words.push_back(arg);
    }
    return inv;
}

const command &command_named(const std::string &name)
{
    const command *c = find_command(name);
    if (!c)
        throw usage_error("", "unknown command '" + name + "'");
    return *c;
}

// The options that are not kv4usb's own must be the one the command takes (none without a command).
void check_options(const invocation &inv, const command *c)
{
    for (const std::string &option : inv.options)
        if (!c || !c->option || option.substr(0, option.find('=')) != c->option)
            throw usage_error("", "unknown option '" + option + "'");
}

int run_help(const std::vector<std::string> &words, console &io)
{
    if (words.size() > 2)
        throw usage_error("", "help takes at most one command");
    if (words.size() == 1)
        print_overview(io.out);
    else
        print_command_help(io.out, command_named(words[1]));
    return exit_ok;
}

void check_count(const command &c, const arguments &args)
{
    if (args.size() >= c.min_args && args.size() <= c.max_args)
        return;
    const std::string expected = c.min_args == c.max_args
                                     ? std::to_string(c.min_args)
                                     : std::to_string(c.min_args) + " to " + std::to_string(c.max_args);
    args.fail(std::string(c.name) + " takes " + expected + (c.max_args == 1 ? " argument" : " arguments") + ", not " +
              std::to_string(args.size()));
}

int dispatch(const invocation &inv, console &io)
{
    if (inv.words.empty() || inv.words[0] == "help")
        check_options(inv, nullptr);
    if (inv.words.empty()) {
        if (!inv.help)
            throw usage_error("", "no command given");
        print_overview(io.out);
        return exit_ok;
    }
    if (inv.words[0] == "help")
        return run_help(inv.words, io);
    const command &c = command_named(inv.words[0]);
    check_options(inv, &c);
    if (inv.help) {
        print_command_help(io.out, c);
        return exit_ok;
    }
    const arguments args(c.name, std::vector<std::string>(inv.words.begin() + 1, inv.words.end()), inv.options);
    check_count(c, args);
    context ctx(io, inv.simulated);
    return c.run(ctx, args);
}

} // namespace

int run(const std::vector<std::string> &args, console &io)
{
    try {
        return dispatch(read_invocation(args), io);
    } catch (const usage_error &e) {
        io.err << "error: " << e.what() << '\n';
        if (const command *c = find_command(e.command()))
            print_usage_line(io.err, *c);
        else
            io.err << general_usage << '\n';
        return exit_usage;
    } catch (const call_failure &e) {
        print_call_failure(io.err, e.what(), e.code());
        return exit_failure;
    } catch (const std::exception &e) {
        io.err << "error: " << e.what() << '\n';
        return exit_failure;
    }
}

} // namespace kv4usb
