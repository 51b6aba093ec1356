using System;
using System.Linq;
using System.Threading;
using KV4UsbCp;
using NUnit.Framework;

// Every test runs the package against the simulator library: this folder's KV4UsbCp.dll.config maps
// KV4USBCP to it.
public class SimulatedMonitors
{
    protected Kv4Library library;

    [SetUp]
    public void CleanBus() => Kv4Sim.Reset();

    [TearDown]
    public void Stop()
    {
        library?.Dispose();
        Kv4Sim.Reset();
    }

    // Collects garbage in a loop on its own thread until disposed: a delegate the library still
    // calls and nobody holds is freed under it.
    protected sealed class Collector : IDisposable
    {
        volatile bool stop;
        readonly Thread thread;

        public Collector()
        {
            thread = new Thread(() => { while (!stop) { GC.Collect(); GC.WaitForPendingFinalizers(); } });
            thread.Start();
        }

        public void Dispose()
        {
            stop = true;
            thread.Join();
        }
    }
}

[TestFixture]
public class PortTests : SimulatedMonitors
{
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
        var update = port.UpdateStatus();
        var v3 = port.V3UpdateStatus();
        Assert.AreEqual(new object[] { (ushort)0x1234, (ushort)0xABCD, 0x89ABCDEFu, (ushort)0x4567 },
                        new object[] { update.FirstValue, update.SecondValue, v3.FirstValue, v3.SecondValue });

        port.Echo(Enumerable.Repeat((byte)7, 499).ToArray());
        byte[] answer = port.Command(new byte[] { 0x0C }, 5);
        Assert.AreEqual(new byte[] { 1, 0, 0, 0, 0 }, answer);
        monitor.ClearWireLog();
        port.SetFeature(0xBEEF);
        var feature = monitor.WireLog().Single();
        Assert.AreEqual(new byte[] { 5, 0xBE, 0xEF }, feature.Bytes.Take(3).ToArray());
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
}
