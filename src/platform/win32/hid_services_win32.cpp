// HID device services on Windows: setupapi finds the HID interfaces, kernel32 opens them as files
// and moves whole reports with overlapped I/O, hid.dll answers strings, attributes and the parsed
// report descriptor.
#include "platform/hid_services.h"

#include <windows.h>

#include <setupapi.h>

// MinGW's HID headers declare their functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <atomic>
#include <cstddef>
#include <limits>
#include <memory>
#include <new>

namespace kv4 {

namespace {

// ---- Conversions between the seam's opaque types and the system's ------------------------------

// What a hid_handle points at: the file and the last error the system reported on it.
struct os_device {
    HANDLE file;
    std::atomic<DWORD> last_error{0};

    // The result of a call on the file; a failure's error is kept for diagnostics.
    template <typename Result> Result noted(Result result)
    {
        if (!result)
            last_error.store(GetLastError());
        return result;
    }
};

os_device &os(hid_handle handle) { return *reinterpret_cast<os_device *>(handle); }
HANDLE os_handle(hid_handle handle) { return os(handle).file; }

PHIDP_PREPARSED_DATA os_preparsed(hid_preparsed preparsed) { return reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed); }

ULONG byte_count(std::size_t capacity)
{
    constexpr std::size_t largest = std::numeric_limits<ULONG>::max();
    return static_cast<ULONG>(capacity < largest ? capacity : largest);
}

static_assert(int(hid_report_type::input) == HidP_Input && int(hid_report_type::output) == HidP_Output &&
                  int(hid_report_type::feature) == HidP_Feature,
              "the seam numbers report types as the HID parser does");
HIDP_REPORT_TYPE os_report_type(hid_report_type type) { return static_cast<HIDP_REPORT_TYPE>(type); }

// ---- Overlapped records -------------------------------------------------------------------------

static_assert(sizeof(OVERLAPPED) <= sizeof(hid_transfer::os), "OVERLAPPED does not fit the transfer record");
static_assert(alignof(hid_transfer) >= alignof(OVERLAPPED) && offsetof(hid_transfer, os) % alignof(OVERLAPPED) == 0,
              "OVERLAPPED is misaligned in the transfer record");

OVERLAPPED *overlapped(hid_transfer *transfer) { return std::launder(reinterpret_cast<OVERLAPPED *>(transfer->os)); }

// A fresh record for the next transfer: status and offset words zero, the record's event attached
// and reset. The kernel resets the event too when the transfer starts; doing it here as well keeps
// a stale signal from a finished transfer from being taken for this one's completion.
OVERLAPPED *prepare(hid_transfer *transfer)
{
    auto *record = new (transfer->os) OVERLAPPED{};
    record->hEvent = reinterpret_cast<HANDLE>(transfer->event);
    if (record->hEvent)
        ResetEvent(record->hEvent);
    return record;
}

hid_io started(os_device &device, BOOL done)
{
    if (done)
        return hid_io::completed;
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING)
        return hid_io::pending;
    device.last_error.store(error);
    return hid_io::failed;
}

// The status the kernel writes into the record when the transfer completes. Reading it needs no
// handle, so the outcome can be asked after the file was closed, while a cancelled transfer ends.
// After a start refused at once it still holds the STATUS_PENDING that kernel32 put there before
// calling the system; the seam's own bookkeeping answers for such a record, not this.
constexpr ULONG_PTR status_pending = 0x103; // STATUS_PENDING

hid_io result_of(const OVERLAPPED *record)
{
    const auto status = static_cast<LONG>(record->Internal);
    if (record->Internal == status_pending)
        return hid_io::pending;
    return status >= 0 ? hid_io::completed : hid_io::failed; // NT_SUCCESS
}

// ---- Interface sets -----------------------------------------------------------------------------

// Owns a device information set for one scope.
class device_info_set {
public:
    explicit device_info_set(HDEVINFO set) : set_(set) {}
    ~device_info_set()
    {
        if (valid())
            SetupDiDestroyDeviceInfoList(set_);
    }
    device_info_set(const device_info_set &) = delete;
    device_info_set &operator=(const device_info_set &) = delete;

    bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return set_; }

private:
    HDEVINFO set_;
};

SP_DEVICE_INTERFACE_DATA empty_interface()
{
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    return data;
}

// The interface's detail record, path included, in a buffer of its own; null when it cannot be
// fetched. The size field is that of the record's fixed part, not of the allocation, or the call
// refuses the buffer.
std::unique_ptr<char[]> interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA *data)
{
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return nullptr;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer)
        return nullptr;
    auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, data, detail, size, nullptr, nullptr))
        return nullptr;
    return buffer;
}

const char *device_path(const std::unique_ptr<char[]> &detail)
{
    return reinterpret_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(detail.get())->DevicePath;
}

// Calls found(set, interface, path) for every present HID interface, in the system's order, until
// it returns true; for none when the set of present interfaces cannot be obtained.
template <typename Found> void each_present_interface(Found found)
{
    GUID hid_class;
    HidD_GetHidGuid(&hid_class);
    device_info_set set(SetupDiGetClassDevsA(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.valid())
        return;
    SP_DEVICE_INTERFACE_DATA data = empty_interface();
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hid_class, index, &data); ++index) {
        std::unique_ptr<char[]> detail = interface_detail(set.get(), &data);
        if (detail && found(set.get(), &data, device_path(detail)))
            break;
    }
}

// True when the device's description property can be read. The first call, without a buffer,
// normally only learns the size; should it succeed, there is nothing more to read.
bool description_readable(HDEVINFO set, SP_DEVINFO_DATA *device)
{
    DWORD size = 0;
    if (SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_DEVICEDESC, nullptr, nullptr, 0, &size))
        return true;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    std::unique_ptr<BYTE[]> text(new (std::nothrow) BYTE[size]);
    return text && SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_DEVICEDESC, nullptr, text.get(), size, nullptr);
}

// The interface's device element, then its description. The detail call is made without a buffer:
// it fails for want of one but fills the device element, which is all that is needed of it.
bool interface_described(HDEVINFO set, SP_DEVICE_INTERFACE_DATA *data)
{
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, nullptr, &device);
    return description_readable(set, &device);
}

// Device interface paths name the same interface whatever their letter case (Windows broadcasts
// them in upper case and lists them in lower case). Compared ASCII letter by letter: lstrcmpiA
// folds by the user's locale, and in a Turkish one "I" is not the capital of "i".
bool same_interface_path(const char *a, const char *b)
{
    const auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    for (; *a && fold(*a) == fold(*b); ++a, ++b) {
    }
    return *a == *b;
}

// Wine answers SetupDiOpenDeviceInterfaceA with a stub that always fails; on Windows it works and
// this is never reached for a present interface. The same interface is then looked for among the
// present ones, by the rule above, which is Windows's own; on Windows an interface that the
// direct open does not know is not among them either, so the answer does not change there.
bool present_interface_described(const char *path)
{
    bool described = false;
    each_present_interface([&](HDEVINFO set, SP_DEVICE_INTERFACE_DATA *data, const char *listed) {
        if (!same_interface_path(listed, path))
            return false;
        described = interface_described(set, data);
        return true;
    });
    return described;
}

// ---- The services -------------------------------------------------------------------------------

class win32_hid_services final : public hid_services {
public:
    void list_paths(void (*visit)(const char *path, void *context), void *context) override
    {
        each_present_interface([&](HDEVINFO, SP_DEVICE_INTERFACE_DATA *, const char *path) {
            visit(path, context);
            return false;
        });
    }

    bool check_present(const char *path) override
    {
        device_info_set set(SetupDiCreateDeviceInfoList(nullptr, nullptr));
        SP_DEVICE_INTERFACE_DATA data = empty_interface();
        if (set.valid() && SetupDiOpenDeviceInterfaceA(set.get(), path, 0, &data))
            return interface_described(set.get(), &data);
        return present_interface_described(path);
    }

    hid_handle open(const char *path, hid_access access, uint32_t *last_error) override
    {
        bool probe = access == hid_access::probe;
        DWORD rights = probe ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
        DWORD flags = probe ? FILE_ATTRIBUTE_NORMAL : FILE_FLAG_OVERLAPPED;
        HANDLE file = CreateFileA(path, rights, 0, nullptr, OPEN_EXISTING, flags, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (last_error)
                *last_error = GetLastError();
            return nullptr;
        }
        auto *device = new (std::nothrow) os_device{file};
        if (!device) {
            CloseHandle(file);
            if (last_error)
                *last_error = ERROR_NOT_ENOUGH_MEMORY;
        }
        return reinterpret_cast<hid_handle>(device);
    }

    // Closing cancels only when the last reference to the file goes; cancelling first asks to end
    // the pending transfers whoever else still refers to it. Their records stay the kernel's
    // until they have ended; the core waits for that.
    void close(hid_handle handle) override
    {
        CancelIoEx(os_handle(handle), nullptr);
        CloseHandle(os_handle(handle));
        delete &os(handle);
    }

    uint32_t last_error(hid_handle handle) override { return os(handle).last_error.load(); }

    bool product_string(hid_handle handle, uint16_t *buffer, std::size_t capacity) override
    {
        return os(handle).noted(HidD_GetProductString(os_handle(handle), buffer, byte_count(capacity)));
    }

    bool serial_string(hid_handle handle, uint16_t *buffer, std::size_t capacity) override
    {
        return os(handle).noted(HidD_GetSerialNumberString(os_handle(handle), buffer, byte_count(capacity)));
    }

    bool indexed_string(hid_handle handle, unsigned index, uint16_t *buffer, std::size_t capacity) override
    {
        return os(handle).noted(HidD_GetIndexedString(os_handle(handle), index, buffer, byte_count(capacity)));
    }

    bool product_id(hid_handle handle, uint16_t *product_id) override
    {
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!os(handle).noted(HidD_GetAttributes(os_handle(handle), &attributes)))
            return false;
        *product_id = attributes.ProductID;
        return true;
    }

    hid_preparsed get_preparsed(hid_handle handle) override
    {
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!os(handle).noted(HidD_GetPreparsedData(os_handle(handle), &preparsed)))
            return nullptr;
        return reinterpret_cast<hid_preparsed>(preparsed);
    }

    bool get_caps(hid_preparsed preparsed, hid_caps *caps) override
    {
        HIDP_CAPS os_caps{};
        if (HidP_GetCaps(os_preparsed(preparsed), &os_caps) != HIDP_STATUS_SUCCESS)
            return false;
        caps->input_report_bytes = os_caps.InputReportByteLength;
        caps->output_report_bytes = os_caps.OutputReportByteLength;
        caps->feature_report_bytes = os_caps.FeatureReportByteLength;
        caps->input_value_caps = os_caps.NumberInputValueCaps;
        caps->output_value_caps = os_caps.NumberOutputValueCaps;
        caps->feature_value_caps = os_caps.NumberFeatureValueCaps;
        return true;
    }

    // Usage page, link collection and usage 0 ask for every value capability of the type. A range
    // reports its first usage, which shares its place with a single usage.
    bool get_value_caps(hid_preparsed preparsed, hid_report_type type, hid_value_cap *caps, uint16_t *count) override
    {
        USHORT delivered = *count;
        std::unique_ptr<HIDP_VALUE_CAPS[]> os_caps(new (std::nothrow) HIDP_VALUE_CAPS[delivered]);
        if (!os_caps || HidP_GetSpecificValueCaps(os_report_type(type), 0, 0, 0, os_caps.get(), &delivered,
                                                  os_preparsed(preparsed)) != HIDP_STATUS_SUCCESS)
            return false;
        for (USHORT i = 0; i < delivered; ++i)
            caps[i] = {os_caps[i].Range.UsageMin, os_caps[i].ReportID, os_caps[i].ReportCount};
        *count = delivered;
        return true;
    }

    void free_preparsed(hid_preparsed preparsed) override { HidD_FreePreparsedData(os_preparsed(preparsed)); }

    bool flush_input(hid_handle handle) override { return os(handle).noted(HidD_FlushQueue(os_handle(handle))); }

    bool set_feature(hid_handle handle, const uint8_t *buffer, uint16_t length) override
    {
        // The driver only reads the report; the parameter is merely declared writable.
        return os(handle).noted(HidD_SetFeature(os_handle(handle), const_cast<uint8_t *>(buffer), length));
    }

    hid_io platform_start_write(hid_handle handle, const uint8_t *buffer, uint16_t length, hid_transfer *transfer) override
    {
        return started(os(handle), WriteFile(os_handle(handle), buffer, length, nullptr, prepare(transfer)));
    }

    hid_io platform_start_read(hid_handle handle, uint8_t *buffer, uint16_t length, hid_transfer *transfer) override
    {
        return started(os(handle), ReadFile(os_handle(handle), buffer, length, nullptr, prepare(transfer)));
    }

    hid_io platform_outcome(hid_transfer *transfer) override { return result_of(overlapped(transfer)); }

    // CancelIoEx, not CancelIo: CancelIo only reaches transfers started by the calling thread,
    // while the core cancels from whichever thread notices a time-out or closes the port. Nothing
    // pending (ERROR_NOT_FOUND) is not a failure.
    void cancel_transfer(hid_handle handle, hid_transfer *transfer) override
    {
        CancelIoEx(os_handle(handle), overlapped(transfer));
    }

    void cancel_io(hid_handle handle) override { CancelIoEx(os_handle(handle), nullptr); }

    bool volume_name(const char *root, char *buffer, uint32_t capacity) override
    {
        return GetVolumeNameForVolumeMountPointA(root, buffer, capacity) != 0;
    }

    bool volume_label(const char *root, char *buffer, uint32_t capacity) override
    {
        DWORD serial = 0, longest_name = 0, flags = 0;
        char file_system[225];
        return GetVolumeInformationA(root, buffer, capacity, &serial, &longest_name, &flags, file_system,
                                     sizeof file_system) != 0;
    }
};

} // namespace

hid_services &os_hid_services() noexcept
{
    static win32_hid_services services;
    return services;
}

} // namespace kv4
