using System;
using System.Runtime.InteropServices;

namespace KV4UsbCp
{
    /// <summary>The library's exports exactly as kv4usbcp.h declares them (cdecl, 16-bit results).</summary>
    /// <remarks>"KV4USBCP" is KV4USBCP.dll on Windows; Mono maps it to libkv4usbcp.so.3 through
    /// KV4UsbCp.dll.config, and a host that wants simulated monitors maps it to the simulator library.</remarks>
    public static class Native
    {
        const string Lib = "KV4USBCP";
        const CallingConvention Cdecl = CallingConvention.Cdecl;

        [StructLayout(LayoutKind.Sequential)]
        public struct UpdateStatus { public ushort FirstValue; public ushort SecondValue; }

        [StructLayout(LayoutKind.Sequential)]
        public struct V3UpdateStatus { public uint FirstValue; public ushort SecondValue; }

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate void EventCallback(ushort port, int ev);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate void EventCallback2(ushort port, int ev, IntPtr productName, IntPtr serialNumber);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate void EventCallback3(ushort port, int ev, IntPtr productName, IntPtr serialNumber, ushort productId);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate void AsyncIoCallback(ushort port, IntPtr data, ushort length, short result, short tag);

        [DllImport(Lib, CallingConvention = Cdecl)] public static extern void tkcmdsetUSB_get_error_name(short code, byte[] buffer, ushort length);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern void tkcmdsetUSB_get_error_text(short code, byte[] buffer, ushort length);

        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_init();
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_shutdown_all();
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_shutdown(ushort port);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_lock();
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_unlock();
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern ushort tkcmdsetUSB_get_dll_version();

        [DllImport(Lib, CallingConvention = Cdecl)]
        public static extern short tkcmdsetUSB_find_devices([MarshalAs(UnmanagedType.LPStr)] string filter, out byte count, [Out] ushort[] ports);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_reset_port(ushort port);

        [DllImport(Lib, CallingConvention = Cdecl)]
        public static extern short tkcmdsetUSB_do_command(ushort port, byte[] command, ushort commandLength, [Out] byte[] response, ref ushort responseLength, ushort timeout);
        [DllImport(Lib, CallingConvention = Cdecl)]
        public static extern short tkcmdsetUSB_do_DDIcommand(ushort port, byte[] command, ushort commandLength, [Out] byte[] response, ref ushort responseLength, ushort timeout);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_echo(ushort port, byte[] data, ushort length);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_status(ushort port, out uint status);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_special(ushort port, ushort argument1, uint argument2, out uint value);

        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_write_flashblk16(ushort port, uint address, byte[] data, uint words, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_read_flashblk16(ushort port, uint address, [Out] byte[] data, uint words, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_write_spiflashblk8(ushort port, uint address, byte[] data, uint count, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_read_spiflashblk8(ushort port, uint address, [Out] byte[] data, uint count, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_write_memblk16(ushort port, uint address, byte[] data, uint words, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_write_memblk8(ushort port, uint address, byte[] data, ushort count, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_read_memblk8(ushort port, uint address, [Out] byte[] data, ushort count, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_write_eeblk8(ushort port, uint address, byte[] data, ushort count, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_read_eeblk8(ushort port, uint address, [Out] byte[] data, ushort count, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_get_image_crc(ushort port, uint address, out uint crc, uint length, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_get_update_status(ushort port, out UpdateStatus status, ref ushort responseLength);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_get_V3_update_status(ushort port, out V3UpdateStatus status, ref ushort responseLength);

        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_serial_number(ushort port, [Out] byte[] buffer, byte length);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_fw_version(ushort port, [Out] byte[] buffer, byte length);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_hw_version(ushort port, [Out] byte[] buffer, byte length);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_loader_fw_version(ushort port, [Out] byte[] buffer, byte length);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_max_report_size(ushort port, out ushort size);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_get_buffer_mode(ushort port, out byte mode);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_set_feature(ushort port, ushort value, ushort unused);

        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_register_events(EventCallback callback);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_register_events2(EventCallback2 callback);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_register_events3(EventCallback3 callback);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_unregister_events();
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_unregister_events2();
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_unregister_events3();

        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_register_asyncio(AsyncIoCallback callback, ushort timeout);
        [DllImport(Lib, CallingConvention = Cdecl)] public static extern short tkcmdsetUSB_unregister_asyncio();
        [DllImport(Lib, CallingConvention = Cdecl)]
        public static extern short tkcmdsetUSB_send_command(ushort port, byte[] command, ushort commandLength, ushort unused, ushort tag);
    }
}
