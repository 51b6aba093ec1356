using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Threading.Tasks;

namespace KV4UsbCp
{
    public sealed partial class Kv4Library
    {
        readonly object exchangeGate = new object();
        readonly Dictionary<ushort, TaskCompletionSource<byte[]>> pending = new Dictionary<ushort, TaskCompletionSource<byte[]>>();
        // The library's I/O thread calls this for as long as it is registered: held here, or the
        // collector frees the thunk under it.
        Native.AsyncIoCallback completion;
        ushort nextTag;
        ushort exchangeTimeoutMs = 1000;

        /// <summary>How long an asynchronous exchange may take, write and answer together (default 1000 ms).
        /// Set it before the first exchange: the I/O thread is started with it.</summary>
        public ushort ExchangeTimeoutMs
        {
            get { return exchangeTimeoutMs; }
            set
            {
                lock (exchangeGate)
                {
                    if (completion != null) throw new InvalidOperationException("Exchanges have started with the time-out they have.");
                    exchangeTimeoutMs = value;
                }
            }
        }

        internal Task<byte[]> Exchange(ushort port, byte[] frame)
        {
            if (frame == null) throw new ArgumentNullException(nameof(frame));
            var done = new TaskCompletionSource<byte[]>(TaskCreationOptions.RunContinuationsAsynchronously);
            ushort tag;
            lock (exchangeGate)
            {
                ThrowIfDisposed();
                if (completion == null)
                {
                    var callback = new Native.AsyncIoCallback(OnCompletion);
                    Kv4Exception.Check(Native.tkcmdsetUSB_register_asyncio(callback, exchangeTimeoutMs));
                    completion = callback;
                }
                if (pending.Count > ushort.MaxValue) throw new InvalidOperationException("65536 exchanges are under way.");
                do tag = nextTag++; while (pending.ContainsKey(tag));
                pending.Add(tag, done);
            }
            short code = Native.tkcmdsetUSB_send_command(port, frame, checked((ushort)frame.Length), 0, tag);
            if (code != 0)
            {
                lock (exchangeGate) pending.Remove(tag);
                done.SetException(new Kv4Exception(code));
            }
            return done.Task;
        }

        void OnCompletion(ushort port, IntPtr data, ushort length, short result, short tag)
        {
            try
            {
                TaskCompletionSource<byte[]> done;
                lock (exchangeGate)
                {
                    if (!pending.TryGetValue((ushort)tag, out done)) return;
                    pending.Remove((ushort)tag);
                }
                if (result != 0)
                {
                    done.TrySetException(new Kv4Exception(result));
                    return;
                }
                var answer = new byte[length];
                Marshal.Copy(data, answer, 0, length);
                done.TrySetResult(answer);
            }
            catch (Exception failure)
            {
                Report(failure);
            }
        }

        // Exchanges under way end with AsyncUnregistered: through the callback while the I/O thread
        // stops, or here for those it still held when its wait timed out.
        void StopExchanges()
        {
            Native.AsyncIoCallback callback;
            lock (exchangeGate) callback = completion;
            if (callback == null) return;
            if (Native.tkcmdsetUSB_unregister_asyncio() != 0) Park(callback);
            List<TaskCompletionSource<byte[]>> left;
            lock (exchangeGate)
            {
                completion = null;
                left = new List<TaskCompletionSource<byte[]>>(pending.Values);
                pending.Clear();
            }
            foreach (var done in left) done.TrySetException(new Kv4Exception(Kv4Exception.AsyncUnregistered));
        }
    }
}
