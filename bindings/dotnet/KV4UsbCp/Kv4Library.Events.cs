using System;
using System.Runtime.InteropServices;

namespace KV4UsbCp
{
    /// <summary>A monitor that arrived (its port just opened) or left (its port closes after the handlers).</summary>
    public sealed class Kv4DeviceEventArgs : EventArgs
    {
        internal Kv4DeviceEventArgs(Kv4Port port, string product, string serial, ushort productId)
        {
            Port = port;
            Product = product;
            Serial = serial;
            ProductId = productId;
        }

        public Kv4Port Port { get; }
        public string Product { get; }
        public string Serial { get; }
        public ushort ProductId { get; }
    }

    /// <summary>A disk volume that arrived or left (Windows only).</summary>
    public sealed class Kv4VolumeEventArgs : EventArgs
    {
        internal Kv4VolumeEventArgs(char? letter, string label)
        {
            Letter = letter;
            Label = label;
        }

        /// <summary>The lowest drive letter of the event, A to P; null for drives Q: to Z:.</summary>
        public char? Letter { get; }
        /// <summary>The volume's label on arrival (empty for none); mostly empty on removal.</summary>
        public string Label { get; }
    }

    public sealed partial class Kv4Library
    {
        const int DeviceConnected = 1, DeviceDisconnected = 2, VolumeArrivedEvent = 3, VolumeRemovedEvent = 4;

        readonly object eventGate = new object();
        // Held for exactly as long as it is registered: the notification thread calls it.
        Native.EventCallback3 eventCallback;
        EventHandler<Kv4DeviceEventArgs> connected, disconnected;
        EventHandler<Kv4VolumeEventArgs> volumeArrived, volumeRemoved;

        // The handlers run on the library's notification thread, one event at a time; they may run
        // commands on any port. Adding the first handler registers for events, and monitors attached
        // and not yet open are then reported as arrivals at once: to the handlers there are by then,
        // so add every handler before discovery or before the monitors arrive. Removing the last
        // handler unregisters.
        public event EventHandler<Kv4DeviceEventArgs> Connected { add { Change(ref connected, value, true); } remove { Change(ref connected, value, false); } }
        public event EventHandler<Kv4DeviceEventArgs> Disconnected { add { Change(ref disconnected, value, true); } remove { Change(ref disconnected, value, false); } }
        public event EventHandler<Kv4VolumeEventArgs> VolumeArrived { add { Change(ref volumeArrived, value, true); } remove { Change(ref volumeArrived, value, false); } }
        public event EventHandler<Kv4VolumeEventArgs> VolumeRemoved { add { Change(ref volumeRemoved, value, true); } remove { Change(ref volumeRemoved, value, false); } }

        void Change<T>(ref EventHandler<T> handlers, EventHandler<T> handler, bool add)
        {
            lock (eventGate)
            {
                ThrowIfDisposed();
                var before = handlers;
                handlers = (EventHandler<T>)(add ? Delegate.Combine(handlers, handler) : Delegate.Remove(handlers, handler));
                try
                {
                    Register(connected != null || disconnected != null || volumeArrived != null || volumeRemoved != null);
                }
                catch
                {
                    handlers = before;
                    throw;
                }
            }
        }

        void Register(bool wanted)
        {
            if (wanted && eventCallback == null)
            {
                var callback = new Native.EventCallback3(OnEvent);
                Kv4Exception.Check(Native.tkcmdsetUSB_register_events3(callback));
                eventCallback = callback;
            }
            else if (!wanted && eventCallback != null)
            {
                // A time-out (always so from inside a handler) still clears the registration, but the
                // thread may be inside the callback until that handler returns.
                if (Native.tkcmdsetUSB_unregister_events3() != 0) Park(eventCallback);
                eventCallback = null;
            }
        }

        void StopEvents()
        {
            lock (eventGate)
            {
                connected = disconnected = null;
                volumeArrived = volumeRemoved = null;
                Register(false);
            }
        }

        void OnEvent(ushort port, int ev, IntPtr product, IntPtr serial, ushort productId)
        {
            try
            {
                string text = Marshal.PtrToStringAnsi(product) ?? "";
                if (ev == DeviceConnected || ev == DeviceDisconnected)
                {
                    var args = new Kv4DeviceEventArgs(Port(port), text, Marshal.PtrToStringAnsi(serial) ?? "", productId);
                    Raise(ev == DeviceConnected ? connected : disconnected, args);
                }
                else if (ev == VolumeArrivedEvent || ev == VolumeRemovedEvent)
                {
                    char? letter = port == 0 ? (char?)null : (char)('A' + TrailingZeros(port));
                    Raise(ev == VolumeArrivedEvent ? volumeArrived : volumeRemoved, new Kv4VolumeEventArgs(letter, text));
                }
            }
            catch (Exception failure)
            {
                Report(failure);
            }
        }

        static int TrailingZeros(ushort mask)
        {
            int n = 0;
            while ((mask & (1 << n)) == 0) n++;
            return n;
        }

        // Each handler on its own, so that one that throws neither stops the others nor reaches the
        // library's thread.
        void Raise<T>(EventHandler<T> handlers, T args)
        {
            if (handlers == null) return;
            foreach (EventHandler<T> handler in handlers.GetInvocationList())
            {
                try
                {
                    handler(this, args);
                }
                catch (Exception failure)
                {
                    Report(failure);
                }
            }
        }
    }
}
