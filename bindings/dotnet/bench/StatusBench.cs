using System;
using System.Diagnostics;
using KV4UsbCp;

// Synchronous status exchanges a second through the package on one zero-latency simulated monitor
// (wire log off): the status command as bench/transaction_bench.cpp sends it (do_command, 19 answer
// bytes), and Kv4Port.Status. Run beside the simulator library (KV4USBCP mapped to it).
static class StatusBench
{
    static void Main(string[] args)
    {
        double seconds = args.Length > 0 ? double.Parse(args[0]) : 2;
        Kv4Sim.Reset();
        using (var monitor = Kv4Sim.Attach())
        using (var library = new Kv4Library())
        {
            monitor.WireLogEnabled = false;
            var port = library.FindMonitors()[0];
            var frame = new byte[] { 0x0C };
            Report("Command(0x0C, 19 bytes)", seconds, () => port.Command(frame, 19));
            Report("Status()", seconds, () => port.Status());
        }
    }

    static void Report(string what, double seconds, Action exchange)
    {
        for (int i = 0; i < 10000; i++) exchange(); // JIT and caches warm
        var clock = Stopwatch.StartNew();
        long n = 0;
        while (clock.Elapsed.TotalSeconds < seconds)
        {
            for (int i = 0; i < 1000; i++) exchange();
            n += 1000;
        }
        double perSecond = n / clock.Elapsed.TotalSeconds;
        Console.WriteLine("{0,-26} {1,12:N0} exchanges/s  {2,8:N0} ns each", what, perSecond, 1e9 / perSecond);
    }
}
