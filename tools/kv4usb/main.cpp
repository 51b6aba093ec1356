// kv4usb: command-line host for KV4 monitors.
#include "cli.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

int main(int argc, char **argv)
{
    kv4usb::console io{std::cout, std::cerr, isatty(fileno(stdout)) != 0};
    return kv4usb::run(std::vector<std::string>(argv + 1, argv + argc), io, kv4usb::load_shared_library);
}
