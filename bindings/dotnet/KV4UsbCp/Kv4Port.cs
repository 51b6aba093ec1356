using System;
using System.Threading.Tasks;

namespace KV4UsbCp
{
    /// <summary>The memories a monitor's block commands reach.</summary>
    public enum Kv4Region { Flash = 0, SpiFlash = 1, Ram = 2, Eeprom = 3 }

    /// <summary>One monitor's port. Every failure throws Kv4Exception; see its PortClosed.</summary>
    public sealed class Kv4Port
    {
        const int LargestBlockReport = 500;
        readonly Kv4Library library;

        internal Kv4Port(Kv4Library library, ushort number)
        {
            this.library = library;
            Number = number;
        }

        public ushort Number { get; }

        public string Serial => Identification(Native.tkcmdsetUSB_serial_number);
        public string Firmware => Identification(Native.tkcmdsetUSB_fw_version);
        public string Hardware => Identification(Native.tkcmdsetUSB_hw_version);
        public string Loader => Identification(Native.tkcmdsetUSB_loader_fw_version);

        string Identification(Func<ushort, byte[], byte, short> query)
        {
            var buffer = new byte[64];
            Kv4Exception.Check(query(Number, buffer, 63));
            return Kv4Exception.Text8(buffer);
        }

        /// <summary>The largest report payload, which sizes the memory blocks (0 for a port never opened).</summary>
        public int MaxReportSize
        {
            get
            {
                Kv4Exception.Check(Native.tkcmdsetUSB_max_report_size(Number, out ushort size));
                return size;
            }
        }

        /// <summary>1: the command length chooses the output report; 2 (every new port): the response length.</summary>
        public byte BufferMode
        {
            get
            {
                Kv4Exception.Check(Native.tkcmdsetUSB_get_buffer_mode(Number, out byte mode));
                return mode;
            }
        }

        public override string ToString() => "KV4 port " + Number;

        /// <summary>The monitor's 32-bit status word.</summary>
        public uint Status()
        {
            Kv4Exception.Check(Native.tkcmdsetUSB_status(Number, out uint status));
            return status;
        }

        /// <summary>Sends data (at most 499 bytes on the default layout) and has it echoed.</summary>
        public void Echo(byte[] data)
        {
            Kv4Exception.Check(Native.tkcmdsetUSB_echo(Number, data, checked((ushort)data.Length)));
        }

        /// <summary>The monitor's special command; returns answer bytes 1-4.</summary>
        public uint Special(ushort argument1, uint argument2)
        {
            Kv4Exception.Check(Native.tkcmdsetUSB_special(Number, argument1, argument2, out uint value));
            return value;
        }

        /// <summary>Sends a frame of the host's making and returns the answer bytes delivered, status byte
        /// first. responseLength (the bytes wanted) chooses the input report; ask for at least 3 so that a
        /// refusal's code arrives. ddi sends it in the response buffer mode, which then stays.</summary>
        public byte[] Command(byte[] frame, int responseLength, ushort timeoutMs = 1000, bool ddi = false)
        {
            var response = new byte[Math.Max(3, responseLength)];
            ushort length = checked((ushort)responseLength);
            short code = ddi
                ? Native.tkcmdsetUSB_do_DDIcommand(Number, frame, checked((ushort)frame.Length), response, ref length, timeoutMs)
                : Native.tkcmdsetUSB_do_command(Number, frame, checked((ushort)frame.Length), response, ref length, timeoutMs);
            Kv4Exception.Check(code);
            Array.Resize(ref response, length);
            return response;
        }

        /// <summary>Sends value, high byte first, in a feature report.</summary>
        public void SetFeature(ushort value) => Kv4Exception.Check(Native.tkcmdsetUSB_set_feature(Number, value, 0));

        /// <summary>Closes the port and opens its monitor again, leaving late answers behind.</summary>
        public void Reset() => Kv4Exception.Check(Native.tkcmdsetUSB_reset_port(Number));

        /// <summary>Closes the port; it keeps its number.</summary>
        public void Close() => Kv4Exception.Check(Native.tkcmdsetUSB_shutdown(Number));

        /// <summary>The monitor's CRC of the firmware image region [address, address + length).</summary>
        public uint ImageCrc(uint address, uint length)
        {
            ushort responseLength = 5;
            Kv4Exception.Check(Native.tkcmdsetUSB_get_image_crc(Number, address, out uint crc, length, ref responseLength));
            return crc;
        }

        public Native.UpdateStatus UpdateStatus()
        {
            ushort responseLength = 5;
            Kv4Exception.Check(Native.tkcmdsetUSB_get_update_status(Number, out Native.UpdateStatus status, ref responseLength));
            return status;
        }

        public Native.V3UpdateStatus V3UpdateStatus()
        {
            ushort responseLength = 7;
            Kv4Exception.Check(Native.tkcmdsetUSB_get_V3_update_status(Number, out Native.V3UpdateStatus status, ref responseLength));
            return status;
        }

        /// <summary>Sends frame on the library's I/O thread; the task ends with the answer (the smallest
        /// input report that holds the frame, less one byte; status byte first, 0 there being a refusal)
        /// or a Kv4Exception. Continuations never run on the I/O thread.</summary>
        public Task<byte[]> ExchangeAsync(byte[] frame) => library.Exchange(Number, frame);

        /// <summary>Reads length bytes from address in blocks as large as the port allows, reporting
        /// (bytes done, bytes in all) after each. Flash is read in whole words, around odd edges too.</summary>
        public byte[] Read(Kv4Region region, uint address, int length, Action<int, int> progress = null)
        {
            if (length > 0 && region == Kv4Region.Flash && ((address | (uint)length) & 1) != 0)
            {
                uint start = address & ~1u;
                byte[] words = Read(region, start, (int)(((address + (uint)length + 1) & ~1u) - start), progress);
                var bytes = new byte[length];
                Array.Copy(words, address - start, bytes, 0, length);
                return bytes;
            }
            var data = new byte[length];
            int limit = ReadBlockLimit(region);
            var block = new byte[limit];
            for (int done = 0; done < length;)
            {
                int n = Math.Min(limit, length - done);
                ushort responseLength = (ushort)(n + 1);
                Kv4Exception.Check(ReadBlock(region, address + (uint)done, block, n, ref responseLength));
                Buffer.BlockCopy(block, 0, data, done, n);
                done += n;
                progress?.Invoke(done, length);
            }
            return data;
        }

        /// <summary>Writes data at address in blocks as large as the port allows, reporting (bytes done,
        /// bytes in all) after each. Flash takes whole words: odd edges keep the bytes beside them.</summary>
        public void Write(Kv4Region region, uint address, byte[] data, Action<int, int> progress = null)
        {
            if (data.Length > 0 && region == Kv4Region.Flash && ((address | (uint)data.Length) & 1) != 0)
            {
                uint start = address & ~1u, end = (address + (uint)data.Length + 1) & ~1u;
                var words = new byte[end - start];
                if (start != address) Array.Copy(Read(region, start, 2), words, 2);
                if (end != address + (uint)data.Length) Array.Copy(Read(region, end - 2, 2), 0, words, words.Length - 2, 2);
                Array.Copy(data, 0, words, address - start, data.Length);
                Write(region, start, words, progress);
                return;
            }
            int limit = WriteBlockLimit(region);
            var block = new byte[limit];
            for (int done = 0; done < data.Length;)
            {
                int n = Math.Min(limit, data.Length - done);
                Buffer.BlockCopy(data, done, block, 0, n);
                ushort responseLength = 3;
                Kv4Exception.Check(WriteBlock(region, address + (uint)done, block, n, ref responseLength));
                done += n;
                progress?.Invoke(done, data.Length);
            }
        }

        // A read's N + 1 answer bytes must leave the report's last byte unused to arrive whole.
        int ReadBlockLimit(Kv4Region region)
        {
            int limit = Math.Max(2, Math.Min(MaxReportSize, LargestBlockReport) - 2);
            return region == Kv4Region.Flash ? limit & ~1 : limit;
        }

        // A write frame carries the command byte, the address (4) and the count (2), EEPROM's address 2.
        // (A port never opened reports 0; its first block then fails as the closed port it is.)
        int WriteBlockLimit(Kv4Region region) =>
            Math.Max(2, (Math.Min(MaxReportSize, LargestBlockReport) - (region == Kv4Region.Eeprom ? 7 : 9)) & ~1);

        short ReadBlock(Kv4Region region, uint address, byte[] block, int n, ref ushort responseLength)
        {
            switch (region)
            {
                case Kv4Region.Flash: return Native.tkcmdsetUSB_read_flashblk16(Number, address, block, (uint)n / 2, ref responseLength);
                case Kv4Region.SpiFlash: return Native.tkcmdsetUSB_read_spiflashblk8(Number, address, block, (uint)n, ref responseLength);
                case Kv4Region.Ram: return Native.tkcmdsetUSB_read_memblk8(Number, address, block, (ushort)n, ref responseLength);
                case Kv4Region.Eeprom: return Native.tkcmdsetUSB_read_eeblk8(Number, address, block, (ushort)n, ref responseLength);
                default: throw new ArgumentOutOfRangeException(nameof(region));
            }
        }

        short WriteBlock(Kv4Region region, uint address, byte[] block, int n, ref ushort responseLength)
        {
            switch (region)
            {
                case Kv4Region.Flash: return Native.tkcmdsetUSB_write_flashblk16(Number, address, block, (uint)n / 2, ref responseLength);
                case Kv4Region.SpiFlash: return Native.tkcmdsetUSB_write_spiflashblk8(Number, address, block, (uint)n, ref responseLength);
                case Kv4Region.Ram: return Native.tkcmdsetUSB_write_memblk8(Number, address, block, (ushort)n, ref responseLength);
                case Kv4Region.Eeprom: return Native.tkcmdsetUSB_write_eeblk8(Number, address, block, (ushort)n, ref responseLength);
                default: throw new ArgumentOutOfRangeException(nameof(region));
            }
        }
    }
}
