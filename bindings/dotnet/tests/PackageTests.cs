using System;
using System.Collections.Concurrent;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using KV4UsbCp;
using NUnit.Framework;

// Every test runs the package against the simulator library: this folder's KV4UsbCp.dll.config maps
// KV4USBCP to it.
[TestFixture]
public class PackageTests
{
    Kv4Library library;

    [SetUp]
    public void CleanBus() => Kv4Sim.Reset();

    [TearDown]
    public void Stop()
    {
        library?.Dispose();
        Kv4Sim.Reset();
    }

    // Runs body while another thread collects garbage in a loop: a delegate the library still calls
    // and nobody holds would be freed under it.
    static void WhileCollecting(Action body)
    {
        var stop = new ManualResetEventSlim();
        var collector = new Thread(() => { while (!stop.IsSet) { GC.Collect(); GC.WaitForPendingFinalizers(); } });
        collector.Start();
        try { body(); } finally { stop.Set(); collector.Join(); }
    }

    [Test]
    public void FailuresCarryCodeNameAndWhetherThePortClosed()
    {
        var monitor = Kv4Sim.Attach();
        library = new Kv4Library();
        var port = library.FindMonitors().Single();
        Assert.Throws<InvalidOperationException>(() => new Kv4Library());

        var e = Assert.Throws<Kv4Exception>(() => library.Port(9).Status());
        Assert.AreEqual(new object[] { (short)-10100, "TKUSB_INVALID_PORT_ERR", false }, new object[] { e.Code, e.Name, e.PortClosed });
        StringAssert.StartsWith(e.Text, e.Message.Substring(e.Message.IndexOf(": ") + 2));

        monitor.SetStatusWord(0x00001234); // top byte 0: the monitor's refusal, code 18
        e = Assert.Throws<Kv4Exception>(() => port.Status());
        Assert.AreEqual(new object[] { (short)18, "Unknown Error", false }, new object[] { e.Code, e.Name, e.PortClosed });

        monitor.SetFault(Kv4SimFault.NoAnswer, true);
        e = Assert.Throws<Kv4Exception>(() => port.Status());
        Assert.IsTrue(e.TimedOut && !e.PortClosed, e.Message);
        monitor.SetFault(Kv4SimFault.NoAnswer, false);

        monitor.Detach();
        Assert.IsTrue(Assert.Throws<Kv4Exception>(() => port.Status()).PortClosed);
        Assert.AreEqual(Kv4Exception.DeviceClosed, Assert.Throws<Kv4Exception>(() => port.Echo(new byte[1])).Code);
        monitor.Reattach();
        port.Reset();
        monitor.SetStatusWord(0x01020304);
        Assert.AreEqual(0x01020304u, port.Status());
    }

    [Test]
    public void ServiceCommandsAndIdentificationCrossTheBoundaryIntact()
    {
        var monitor = Kv4Sim.Attach("Bench-7");
        library = new Kv4Library();
        var port = library.FindMonitors("Quillon5").Single();
        Assert.AreEqual(new object[] { "Bench-7", "SIM-FW 1.00", "SIM-HW A", "SIM-BL 1.00", 500, (byte)2 },
                        new object[] { port.Serial, port.Firmware, port.Hardware, port.Loader, port.MaxReportSize, port.BufferMode });
        Assert.AreEqual(0x0302, Kv4Library.Version);

        monitor.SetUpdateStatus(0x1234, 0xABCD);
        monitor.SetV3UpdateStatus(0x89ABCDEF, 0x4567);
        Native.UpdateStatus update = port.UpdateStatus();
        Native.V3UpdateStatus v3 = port.V3UpdateStatus();
        Assert.AreEqual(new object[] { (ushort)0x1234, (ushort)0xABCD, 0x89ABCDEFu, (ushort)0x4567 },
                        new object[] { update.FirstValue, update.SecondValue, v3.FirstValue, v3.SecondValue });

        port.Echo(Enumerable.Repeat((byte)7, 499).ToArray());
        Assert.AreEqual(new byte[] { 1, 0, 0, 0, 0 }, port.Command(new byte[] { 0x0C }, 5));
        monitor.ClearWireLog();
        port.SetFeature(0xBEEF);
        Assert.AreEqual(new byte[] { 5, 0xBE, 0xEF }, monitor.WireLog().Single().Bytes.Take(3).ToArray());
    }

    // A small layout (largest report 64) makes blocks of 54 and 62 bytes, the default one of 490 and 498.
    static readonly Kv4SimValueCap[] Small =
    {
        new Kv4SimValueCap(0, 1, 20), new Kv4SimValueCap(1, 1, 20), new Kv4SimValueCap(0, 2, 64),
        new Kv4SimValueCap(1, 2, 64), new Kv4SimValueCap(2, 5, 32),
    };

    [Test]
    public void MemoryRoundTripsEveryRegionAcrossBlocksAndOddEdges([Values(false, true)] bool small)
    {
        var monitor = Kv4Sim.Attach(caps: small ? Small : null);
        library = new Kv4Library();
        var port = library.FindMonitors().Single();
        var random = new Random(small ? 1 : 2);
        foreach (Kv4Region region in Enum.GetValues(typeof(Kv4Region)))
        {
            const uint address = 0x301;
            var around = Enumerable.Repeat((byte)0xA5, 1203).ToArray();
            monitor.WriteMemory(region, address - 1, around);
            var data = new byte[1201];
            random.NextBytes(data);
            int calls = 0, lastDone = 0, lastTotal = -1;
            port.Write(region, address, data, (done, total) => { calls++; lastDone = done; lastTotal = total; });

            var expected = new byte[] { 0xA5 }.Concat(data).Concat(new byte[] { 0xA5 }).ToArray();
            Assert.AreEqual(expected, monitor.ReadMemory(region, address - 1, 1203), region.ToString());
            Assert.AreEqual(data, port.Read(region, address, data.Length), region.ToString());
            Assert.IsTrue(calls > 2 && lastDone == lastTotal, region + ": " + calls + " blocks");
        }
    }

    [Test]
    public void ConcurrentExchangesOnEightMonitorsEachEndOnceWithTheirOwnAnswer()
    {
        var monitors = Enumerable.Range(0, 8).Select(i => Kv4Sim.Attach("M" + i)).ToArray();
        for (int i = 0; i < 8; i++) monitors[i].SetStatusWord(0x01000000u + (uint)i);
        library = new Kv4Library();
        var ports = library.FindMonitors();
        int offThreadPool = 0;
        var testThread = Thread.CurrentThread; // where an exchange that ended before its await goes on
        // A port takes one exchange at a time: eight chains, each sending its next from the last one's continuation.
        Func<Kv4Port, Task<int>> chain = async port =>
        {
            uint expected = 0x01000000u + (uint)(port.Serial[1] - '0');
            int good = 0;
            for (int round = 0; round < 300; round++)
            {
                byte[] answer = await port.ExchangeAsync(new byte[] { 0x0C });
                if (!Thread.CurrentThread.IsThreadPoolThread && Thread.CurrentThread != testThread) Interlocked.Increment(ref offThreadPool);
                if ((uint)(answer[0] << 24 | answer[1] << 16 | answer[2] << 8 | answer[3]) == expected) good++;
            }
            return good;
        };
        WhileCollecting(() =>
        {
            var all = Task.WhenAll(ports.Select(chain));
            Assert.IsTrue(all.Wait(60000) && all.Result.All(good => good == 300));
        });
        Assert.AreEqual(0, offThreadPool, "continuations ran on the library's I/O thread");

        monitors[1].SetLatency(0, 5000000);
        var late = ports[1].ExchangeAsync(new byte[] { 0x0C });
        monitors[0].Detach();
        Assert.IsTrue(Assert.Throws<Kv4Exception>(() => ports[0].ExchangeAsync(new byte[] { 0x0C }).GetAwaiter().GetResult()).PortClosed);
        library.Dispose();
        Assert.AreEqual(Kv4Exception.AsyncUnregistered, Assert.Throws<Kv4Exception>(() => late.GetAwaiter().GetResult()).Code);
    }

    [Test]
    public void UnplugAndReplugRaiseEventsWhileCollectingAndAThrowingHandlerBreaksNothing()
    {
        library = new Kv4Library();
        var seen = new BlockingCollection<string>();
        var failures = new BlockingCollection<Exception>();
        library.CallbackFailed += failures.Add;
        library.Connected += (s, e) => { throw new InvalidOperationException("the host's fault"); };
        library.Connected += (s, e) => seen.Add("connected " + e.Port.Number + " " + e.Serial + " " + e.Port.Status());
        library.Disconnected += (s, e) => seen.Add("disconnected " + e.Port.Number + " " + e.Product);
        var monitor = Kv4Sim.Attach(); // after the handlers: the first one added reports the monitors already there
        WhileCollecting(() =>
        {
            for (int round = 0; round < 20; round++)
            {
                Assert.IsTrue(seen.TryTake(out string arrival, 10000) && arrival == "connected 0 SIM00001 16777216", arrival);
                Assert.IsTrue(failures.TryTake(out Exception failure, 10000) && failure is InvalidOperationException);
                monitor.Detach();
                Assert.IsTrue(seen.TryTake(out string departure, 10000) && departure == "disconnected 0 KV4 Quillon5 Monitor", departure);
                monitor.Reattach(round % 2 == 0);
            }
        });
    }

    [Test]
    public void ALibraryDroppedUndisposedKeepsCallingItsHandlers()
    {
        var arrivals = new BlockingCollection<ushort>();
        var weak = new Func<WeakReference>(() =>
        {
            var dropped = new Kv4Library();
            dropped.Connected += (s, e) => arrivals.Add(e.Port.Number);
            return new WeakReference(dropped);
        })();
        WhileCollecting(() => { Kv4Sim.Attach(); Assert.IsTrue(arrivals.TryTake(out ushort _, 10000)); });
        library = (Kv4Library)weak.Target;
    }
}
