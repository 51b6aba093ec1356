using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Diagnostics;

namespace KV4UsbCp
{
    /// <summary>The started library: discovery, ports, asynchronous exchanges and device events.</summary>
    /// <remarks>The native library keeps one state per process, so one Kv4Library may be open at a time.
    /// Dispose stops the exchanges and events it started and then shuts the native library down.</remarks>
    public sealed partial class Kv4Library : IDisposable
    {
        static readonly object Live = new object();
        // The open library, held here so that the delegates it registered stay reachable even when a
        // host drops it undisposed: the library's threads go on calling them.
        static Kv4Library current;
        // Delegates whose unregistration timed out: a library thread may still be inside one, so they
        // stay reachable for the life of the process.
        static readonly List<Delegate> Outliving = new List<Delegate>();

        readonly ConcurrentDictionary<ushort, Kv4Port> ports = new ConcurrentDictionary<ushort, Kv4Port>();
        volatile bool disposed;

        /// <summary>Starts the native library (port numbering starts at 0).</summary>
        public Kv4Library()
        {
            lock (Live)
            {
                if (current != null) throw new InvalidOperationException("A Kv4Library is already open in this process.");
                try
                {
                    Kv4Exception.Check(Native.tkcmdsetUSB_init());
                }
                catch (DllNotFoundException e)
                {
                    throw new DllNotFoundException("The native library KV4USBCP was not found: KV4USBCP.dll on Windows, beside the " +
                        "application or on PATH; libkv4usbcp.so.3 on Linux, where the loader looks (LD_LIBRARY_PATH, the ldconfig " +
                        "cache), mapped by KV4UsbCp.dll.config beside KV4UsbCp.dll under Mono.", e);
                }
                current = this;
            }
        }

        /// <summary>The native library's version, major number in the high byte (0x0302 for 3.2).</summary>
        public static ushort Version => Native.tkcmdsetUSB_get_dll_version();

        /// <summary>The identifier of a result code ("TKUSB_INVALID_PORT_ERR"; "Unknown Error" without a row).</summary>
        public static string ErrorName(short code)
        {
            var buffer = new byte[37];
            Native.tkcmdsetUSB_get_error_name(code, buffer, 36);
            return Kv4Exception.Text8(buffer);
        }

        /// <summary>The sentence of a result code.</summary>
        public static string ErrorText(short code)
        {
            var buffer = new byte[141];
            Native.tkcmdsetUSB_get_error_text(code, buffer, 140);
            return Kv4Exception.Text8(buffer);
        }

        /// <summary>Opens the monitors whose product string contains filter (case-sensitive) and returns
        /// the ports of every open monitor. Costs about 100 ms per monitor already open.</summary>
        public IReadOnlyList<Kv4Port> FindMonitors(string filter = "Quillon5")
        {
            if (filter == null) throw new ArgumentNullException(nameof(filter));
            var numbers = new ushort[255];
            Kv4Exception.Check(Native.tkcmdsetUSB_find_devices(filter, out byte count, numbers));
            var found = new Kv4Port[count];
            for (int i = 0; i < count; i++) found[i] = Port(numbers[i]);
            return found;
        }

        /// <summary>The port of that number, one object per number.</summary>
        public Kv4Port Port(ushort number) => ports.GetOrAdd(number, n => new Kv4Port(this, n));

        /// <summary>Takes the library's process-wide lock until the result is disposed: other threads'
        /// commands, and the library's own threads, wait meanwhile.</summary>
        public IDisposable Lock()
        {
            Kv4Exception.Check(Native.tkcmdsetUSB_lock());
            return new Unlocker();
        }

        sealed class Unlocker : IDisposable
        {
            int done;
            public void Dispose()
            {
                if (System.Threading.Interlocked.Exchange(ref done, 1) == 0) Kv4Exception.Check(Native.tkcmdsetUSB_unlock());
            }
        }

        /// <summary>Raised with an exception that an event handler threw on a library thread, where it
        /// must not go on; without a handler the exception is written to the trace.</summary>
        public event Action<Exception> CallbackFailed;

        void Report(Exception failure)
        {
            try
            {
                var handler = CallbackFailed;
                if (handler != null) handler(failure);
                else Trace.TraceError("KV4UsbCp: a callback failed: {0}", failure);
            }
            catch (Exception)
            {
                // Nothing may leave a callback of a library thread.
            }
        }

        static void Park(Delegate callback)
        {
            lock (Outliving) Outliving.Add(callback);
        }

        public void Dispose()
        {
            lock (Live)
            {
                if (disposed) return;
                disposed = true;
                StopExchanges();
                StopEvents();
                Native.tkcmdsetUSB_shutdown_all();
                current = null;
            }
        }

        void ThrowIfDisposed()
        {
            if (disposed) throw new ObjectDisposedException(nameof(Kv4Library));
        }
    }
}
