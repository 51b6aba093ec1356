using System;
using System.Collections.Concurrent;
using System.Linq;
using System.Threading;
using System.Threading.Tasks;
using KV4UsbCp;
using NUnit.Framework;

[TestFixture]
public class CallbackTests : SimulatedMonitors
{
    [Test]
    public void ConcurrentExchangesOnEightMonitorsEachEndOnceWithTheirOwnAnswer()
    {
        var monitors = Enumerable.Range(0, 8).Select(i => Kv4Sim.Attach("M" + i)).ToArray();
        for (int i = 0; i < 8; i++) monitors[i].SetStatusWord(0x01000000u + (uint)i);
        library = new Kv4Library();
        var ports = library.FindMonitors();
        int offThreadPool = 0;
        var testThread = Thread.CurrentThread; // where an exchange that ended before its await goes on
        using (new Collector())
        {
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
            var all = Task.WhenAll(ports.Select(chain));
            Assert.IsTrue(all.Wait(60000));
            Assert.AreEqual(Enumerable.Repeat(300, 8), all.Result);
        }
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
        using (new Collector())
        {
            for (int round = 0; round < 20; round++)
            {
                Assert.IsTrue(seen.TryTake(out string arrival, 10000));
                Assert.AreEqual("connected 0 SIM00001 16777216", arrival);
                Assert.IsTrue(failures.TryTake(out Exception failure, 10000) && failure is InvalidOperationException);
                monitor.Detach();
                Assert.IsTrue(seen.TryTake(out string departure, 10000));
                Assert.AreEqual("disconnected 0 KV4 Quillon5 Monitor", departure);
                monitor.Reattach(round % 2 == 0);
            }
        }
    }
}
