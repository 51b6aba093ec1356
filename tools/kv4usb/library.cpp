#include "library.h"

#include "failures.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace kv4usb {

namespace {

namespace fs = std::filesystem;

const library *current = nullptr;

#ifdef _WIN32
using handle = HMODULE;
handle open_file(const fs::path &path) { return LoadLibraryW(path.c_str()); }
void *symbol(handle h, const char *name) { return reinterpret_cast<void *>(GetProcAddress(h, name)); }
std::string load_error() { return "system error " + std::to_string(GetLastError()); }
fs::path program_folder()
{
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return fs::path(path).parent_path();
}
#else
using handle = void *;
handle open_file(const fs::path &path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void *symbol(handle h, const char *name) { return dlsym(h, name); }
std::string load_error()
{
    const char *text = dlerror();
    return text ? text : "unknown error";
}
fs::path program_folder()
{
    std::error_code ignored;
    return fs::read_symlink("/proc/self/exe", ignored).parent_path();
}
#endif

// A bare name last, so that the system's own search (PATH, LD_LIBRARY_PATH, ld.so.cache) has its say.
handle open_library(const char *name)
{
    const fs::path folder = program_folder();
    const fs::path candidates[] = {folder / name, folder / KV4USB_INSTALLED_LIBDIR / name,
                                   folder / KV4USB_BUILD_LIBDIR / name, fs::path(name)};
    for (const fs::path &candidate : candidates) {
        if (handle h = open_file(candidate))
            return h;
        // One that is there but will not load (a library it needs is missing) ends the search.
        std::error_code ignored;
        if (candidate.has_parent_path() && fs::exists(candidate, ignored))
            throw tool_failure("loading " + candidate.string() + " failed: " + load_error());
    }
    throw tool_failure(std::string("cannot load ") + name +
                       ": it is neither beside kv4usb, nor in its installed library folder or build tree, nor "
                       "where the system looks for libraries");
}

template <class Call> void resolve(handle h, const char *library_name, const std::string &name, Call &call)
{
    call = reinterpret_cast<Call>(symbol(h, name.c_str()));
    if (!call)
        throw tool_failure(std::string(library_name) + " has no " + name);
}

library load(library_kind kind)
{
    const char *name = kind == library_kind::simulator ? KV4USB_SIMULATOR_LIBRARY : KV4USB_PRODUCTION_LIBRARY;
    const handle h = open_library(name);
    library loaded;
#define KV4USB_RESOLVE_LIBRARY(call) resolve(h, name, "tkcmdsetUSB_" #call, loaded.usb.call);
#define KV4USB_RESOLVE_SIMULATOR(call) resolve(h, name, "kv4sim_" #call, loaded.sim.call);
    KV4USB_LIBRARY_CALLS(KV4USB_RESOLVE_LIBRARY)
    if (kind == library_kind::simulator) {
        KV4USB_SIMULATOR_CALLS(KV4USB_RESOLVE_SIMULATOR)
    }
#undef KV4USB_RESOLVE_LIBRARY
#undef KV4USB_RESOLVE_SIMULATOR
    return loaded;
}

} // namespace

const library &load_shared_library(library_kind kind)
{
    static std::map<library_kind, library> loaded;
    auto found = loaded.find(kind);
    if (found == loaded.end())
        found = loaded.emplace(kind, load(kind)).first;
    return found->second;
}

void use_library(const library &chosen) { current = &chosen; }
const library_calls &usb() { return current->usb; }
const simulator_calls &sim() { return current->sim; }

} // namespace kv4usb
