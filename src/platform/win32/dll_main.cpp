// The DLL's entry point: records the module instance, which the notification thread's window
// class is registered with.
#include <windows.h>

namespace kv4 {
void set_module_instance(void *instance) noexcept;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        kv4::set_module_instance(instance);
    else if (reason == DLL_PROCESS_DETACH)
        kv4::set_module_instance(nullptr);
    return TRUE;
}
