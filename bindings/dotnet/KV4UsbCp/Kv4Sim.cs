using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;

namespace KV4UsbCp
{
    /// <summary>The simulator library's driving interface: simulated monitors to plug in and out and to
    /// script. It is called through KV4USBCP, the same native library as the rest of the package, so
    /// that both reach one simulated bus: bind KV4USBCP to the simulator library (on Mono a dllmap to
    /// libkv4usbcp_sim.so.3; on Windows KV4USBCP_sim.dll copied beside the host as KV4USBCP.dll).
    /// Against the production library these calls throw InvalidOperationException.</summary>
    public static class Kv4Sim
    {
        /// <summary>Plugs in a new monitor: "KV4 Quillon5 Monitor", serials SIM00001 and up, reports of
        /// 20, 60, 120 and 500 bytes unless said otherwise. caps: the report layout, as the HID parser
        /// reports it.</summary>
        public static Kv4SimMonitor Attach(string serial = null, string product = null, ushort productId = 0,
                                           Kv4SimValueCap[] caps = null)
        {
            var desc = new SimNative.MonitorDesc { Product = product, Serial = serial, ProductId = productId };
            var pinned = GCHandle.Alloc(caps ?? new Kv4SimValueCap[0], GCHandleType.Pinned);
            try
            {
                if (caps != null)
                {
                    desc.Caps = pinned.AddrOfPinnedObject();
                    desc.CapCount = (UIntPtr)caps.Length;
                }
                IntPtr monitor = SimNative.Bound(() => SimNative.kv4sim_attach(ref desc));
                if (monitor == IntPtr.Zero) throw new ArgumentException("The simulator refused the monitor's description.");
                return new Kv4SimMonitor(monitor);
            }
            finally
            {
                pinned.Free();
            }
        }

        /// <summary>Destroys every monitor and forgets the volumes: a clean bus.</summary>
        public static void Reset() => SimNative.Bound(() => { SimNative.kv4sim_reset(); return IntPtr.Zero; });

        /// <summary>Switches a rule of another system on the bus (1: hidraw's reads, 2: no plug events).</summary>
        public static void SetRule(int rule, bool on) => SimNative.Check(SimNative.kv4sim_set_rule(rule, on ? 1 : 0));

        /// <summary>A volume arrives or leaves (unit mask bit 0 is drive A:), as Windows broadcasts it.</summary>
        public static void AnnounceVolume(uint unitMask, bool arrived, string label = null) =>
            SimNative.Check(SimNative.kv4sim_announce_volume(unitMask, arrived ? 1 : 0, 0, label));

        /// <summary>Delivers a device-interface broadcast (0x8000 arrival, 0x8003 remove pending, 0x8004
        /// remove complete) for path without changing the bus.</summary>
        public static void BroadcastInterface(string path, uint ev) => SimNative.Check(SimNative.kv4sim_broadcast_interface(path, ev));
    }

    /// <summary>One value capability of a report layout. Type: 0 input, 1 output, 2 feature; the count is
    /// the payload in bytes after the report ID.</summary>
    [StructLayout(LayoutKind.Sequential)]
    public struct Kv4SimValueCap
    {
        public byte Type;
        public ushort Usage;
        public byte ReportId;
        public ushort ReportCount;

        public Kv4SimValueCap(byte type, byte reportId, ushort reportCount, ushort usage = 1)
        {
            Type = type;
            Usage = usage;
            ReportId = reportId;
            ReportCount = reportCount;
        }
    }

    /// <summary>What a simulated monitor can be made to do wrong.</summary>
    public enum Kv4SimFault
    {
        RefuseWrite = 1, RefuseRead = 2, RefuseFeature = 3, RefuseStrings = 4, NoAnswer = 5, HeldOpen = 6,
        UnplugOnWrite = 7, RefusePreparsed = 8, RefuseValueCaps = 9, CancelStuck = 10, RefuseIndexedStrings = 11,
        WriteStalls = 12, AnswerAll = 13,
    }

    /// <summary>A transfer on the wire: 1 written by the host, 2 answered by the monitor, 3 a feature
    /// report; the bytes begin with the report ID.</summary>
    public struct Kv4SimWireEntry
    {
        public int Kind;
        public byte[] Bytes;
    }

    /// <summary>A simulated monitor; Dispose unplugs and destroys it.</summary>
    public sealed class Kv4SimMonitor : IDisposable
    {
        IntPtr handle;

        internal Kv4SimMonitor(IntPtr handle) { this.handle = handle; }

        public string Path => Marshal.PtrToStringAnsi(SimNative.kv4sim_path(handle));
        public void Detach() => SimNative.Check(SimNative.kv4sim_detach(handle));
        public void Reattach(bool newSocket = false) => SimNative.Check(SimNative.kv4sim_reattach(handle, newSocket ? 1 : 0));
        public void SetFault(Kv4SimFault fault, bool on) => SimNative.Check(SimNative.kv4sim_set_fault(handle, (int)fault, on ? 1 : 0));
        public void SetLatency(uint writeUs, uint answerUs) => SimNative.Check(SimNative.kv4sim_set_latency_us(handle, writeUs, answerUs));
        public void SetStatusWord(uint word) => SimNative.Check(SimNative.kv4sim_set_status_word(handle, word));
        public void SetUpdateStatus(ushort first, ushort second) => SimNative.Check(SimNative.kv4sim_set_update_status(handle, first, second));
        public void SetV3UpdateStatus(uint first, ushort second) => SimNative.Check(SimNative.kv4sim_set_v3_update_status(handle, first, second));
        public void QueueInput(byte[] frame) => SimNative.Check(SimNative.kv4sim_queue_input(handle, frame, (UIntPtr)frame.Length));

        /// <summary>The monitor's memory, read past the bus.</summary>
        public byte[] ReadMemory(Kv4Region region, uint address, int length)
        {
            var data = new byte[length];
            SimNative.Check(SimNative.kv4sim_read_memory(handle, (int)region, address, data, (UIntPtr)length));
            return data;
        }

        /// <summary>Presets the monitor's memory past the bus.</summary>
        public void WriteMemory(Kv4Region region, uint address, byte[] data) =>
            SimNative.Check(SimNative.kv4sim_write_memory(handle, (int)region, address, data, (UIntPtr)data.Length));

        /// <summary>Logging of every transfer (on by default; off where its copies cost too much).</summary>
        public bool WireLogEnabled { set { SimNative.Check(SimNative.kv4sim_set_wire_log(handle, value ? 1 : 0)); } }

        public IReadOnlyList<Kv4SimWireEntry> WireLog()
        {
            var log = new List<Kv4SimWireEntry>();
            for (ulong i = 0, n = (ulong)SimNative.kv4sim_wire_count(handle); i < n; i++)
            {
                SimNative.Check(SimNative.kv4sim_wire_get(handle, (UIntPtr)i, out SimNative.WireEntry entry));
                var bytes = new byte[(int)entry.Length];
                Marshal.Copy(entry.Bytes, bytes, 0, bytes.Length);
                log.Add(new Kv4SimWireEntry { Kind = entry.Kind, Bytes = bytes });
            }
            return log;
        }

        public void ClearWireLog() => SimNative.kv4sim_wire_clear(handle);

        public void Dispose()
        {
            if (handle == IntPtr.Zero) return;
            SimNative.kv4sim_destroy(handle);
            handle = IntPtr.Zero;
        }
    }

    static class SimNative
    {
        const string Lib = "KV4USBCP";
        const CallingConvention Cdecl = CallingConvention.Cdecl;

        [StructLayout(LayoutKind.Sequential)]
        internal struct MonitorDesc
        {
            [MarshalAs(UnmanagedType.LPStr)] public string Product;
            [MarshalAs(UnmanagedType.LPStr)] public string Serial;
            public ushort ProductId;
            [MarshalAs(UnmanagedType.LPStr)] public string FwVersion;
            [MarshalAs(UnmanagedType.LPStr)] public string HwVersion;
            [MarshalAs(UnmanagedType.LPStr)] public string LoaderVersion;
            public IntPtr Caps;
            public UIntPtr CapCount;
        }

        [StructLayout(LayoutKind.Sequential)]
        internal struct WireEntry
        {
            public int Kind;
            public IntPtr Bytes;
            public UIntPtr Length;
        }

        internal static void Check(int code)
        {
            if (code != 0) throw new Kv4Exception((short)code);
        }

        // The first calls a host makes, where the production library in place of the simulator's shows.
        internal static IntPtr Bound(Func<IntPtr> call)
        {
            try
            {
                return call();
            }
            catch (EntryPointNotFoundException e)
            {
                throw new InvalidOperationException("KV4USBCP is bound to the production library, which has no simulated " +
                    "monitors: map it to the simulator library (libkv4usbcp_sim.so.3, KV4USBCP_sim.dll).", e);
            }
        }

        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern IntPtr kv4sim_attach(ref MonitorDesc desc);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_detach(IntPtr m);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_reattach(IntPtr m, int newSocket);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern void kv4sim_destroy(IntPtr m);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern void kv4sim_reset();
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern IntPtr kv4sim_path(IntPtr m);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_set_fault(IntPtr m, int fault, int on);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_set_latency_us(IntPtr m, uint writeUs, uint answerUs);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_set_rule(int rule, int on);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_set_status_word(IntPtr m, uint word);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_set_update_status(IntPtr m, ushort first, ushort second);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_set_v3_update_status(IntPtr m, uint first, ushort second);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_read_memory(IntPtr m, int region, uint address, [Out] byte[] buf, UIntPtr len);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_write_memory(IntPtr m, int region, uint address, byte[] buf, UIntPtr len);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_queue_input(IntPtr m, byte[] frame, UIntPtr length);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern UIntPtr kv4sim_wire_count(IntPtr m);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_wire_get(IntPtr m, UIntPtr i, out WireEntry entry);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern void kv4sim_wire_clear(IntPtr m);
        [DllImport(Lib, CallingConvention = Cdecl)] internal static extern int kv4sim_set_wire_log(IntPtr m, int on);
        [DllImport(Lib, CallingConvention = Cdecl)]
        internal static extern int kv4sim_announce_volume(uint unitmask, int arrived, ushort flags, [MarshalAs(UnmanagedType.LPStr)] string label);
        [DllImport(Lib, CallingConvention = Cdecl)]
        internal static extern int kv4sim_broadcast_interface([MarshalAs(UnmanagedType.LPStr)] string path, uint ev);
    }
}
