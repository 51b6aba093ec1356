#include "cli.h"

#include "command_table.h"
#include "failures.h"

#include <optional>

namespace kv4usb {

namespace {

constexpr const char *general_usage =
    "usage: kv4usb [--simulate[=N]] COMMAND [ARGUMENTS] [-- COMMAND [ARGUMENTS]]...  (kv4usb --help lists them)";

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

// The commands of one run, separated by "--"; --simulate belongs to the run, so it comes first.
std::vector<invocation> read_invocations(const std::vector<std::string> &args)
{
    std::vector<invocation> invs(1);
    for (const std::string &arg : args) {
        if (arg == "--")
            invs.emplace_back();
        else if (arg.compare(0, 2, "--") == 0 || arg == "-h")
            read_option(arg, invs.back());
        else
            invs.back().words.push_back(arg);
    }
    for (std::size_t i = 1; i < invs.size(); ++i)
        if (invs[i].simulated)
            throw usage_error("", "--simulate applies to the whole run: give it before the first command");
    return invs;
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

arguments arguments_of(const invocation &inv, const command &c)
{
    return arguments(c.name, std::vector<std::string>(inv.words.begin() + 1, inv.words.end()), inv.options);
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

// The command to run, or null for help. Every command of a run is named, and given options and a
// count of arguments it takes, before the first one runs; the values are read as each one runs.
const command *checked(const invocation &inv)
{
    if (!inv.words.empty() && inv.words[0] != "help") {
        const command &c = command_named(inv.words[0]);
        check_options(inv, &c);
        if (!inv.help)
            check_count(c, arguments_of(inv, c));
        return &c;
    }
    check_options(inv, nullptr);
    if (inv.words.empty() && !inv.help)
        throw usage_error("", "no command given");
    if (inv.words.size() > 2)
        throw usage_error("", "help takes at most one command");
    if (inv.words.size() == 2)
        command_named(inv.words[1]);
    return nullptr;
}

int perform(const invocation &inv, const command *c, context &ctx)
{
    if (!c && inv.words.size() == 2)
        print_command_help(ctx.io.out, command_named(inv.words[1]));
    else if (!c)
        print_overview(ctx.io.out);
    else if (inv.help)
        print_command_help(ctx.io.out, *c);
    else
        return c->run(ctx, arguments_of(inv, *c));
    return exit_ok;
}

int run_all(const std::vector<std::string> &args, console &io, library_loader load)
{
    const std::vector<invocation> invs = read_invocations(args);
    std::vector<const command *> commands;
    for (const invocation &inv : invs)
        commands.push_back(checked(inv));
    context ctx(io, load, invs.front().simulated);
    for (std::size_t i = 0; i < invs.size(); ++i)
        if (const int status = perform(invs[i], commands[i], ctx); status != exit_ok)
            return status;
    return exit_ok;
}

} // namespace

int run(const std::vector<std::string> &args, console &io, library_loader load)
{
    try {
        return run_all(args, io, load);
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
