using System;
using System.Text;

namespace KV4UsbCp
{
    /// <summary>A result code other than 0, with the library's name and sentence for it.</summary>
    public class Kv4Exception : Exception
    {
        public const short InvalidPort = -10100;
        public const short WriteFailed = -10102;
        public const short WriteTimeout = -10104;
        public const short ReadFailed = -10105;
        public const short ReadTimeout = -10107;
        public const short SetFeatureFailed = -10111;
        public const short GetStringFailed = -10112;
        public const short DeviceClosed = -10123;
        public const short AsyncUnregistered = -10129;

        public Kv4Exception(short code) : this(code, Kv4Library.ErrorName(code), Kv4Library.ErrorText(code)) { }

        Kv4Exception(short code, string name, string text) : base(name + " (" + code + "): " + text)
        {
            Code = code;
            Name = name;
            Text = text;
        }

        /// <summary>The result code: negative for the library's, positive (or unknown to the table) for the monitor's.</summary>
        public short Code { get; }
        /// <summary>The code's identifier, "Unknown Error" for a code without a row.</summary>
        public string Name { get; }
        /// <summary>The code's sentence.</summary>
        public string Text { get; }

        /// <summary>True when the port is closed after this code: the monitor is taken to be gone, and the
        /// port answers DeviceClosed until Kv4Port.Reset, a new discovery or the monitor's return opens it.</summary>
        /// <remarks>Write and read failures close the port except where a block command refuses an
        /// oversized block; Kv4Port never sends one, so from it they always mean a closed port.</remarks>
        public bool PortClosed =>
            Code == DeviceClosed || Code == WriteFailed || Code == ReadFailed || Code == SetFeatureFailed || Code == GetStringFailed;

        /// <summary>True for a time-out; the port stays open, but the monitor may still answer late.</summary>
        public bool TimedOut => Code == WriteTimeout || Code == ReadTimeout;

        internal static void Check(short code)
        {
            if (code != 0) throw new Kv4Exception(code);
        }

        /// <summary>The text the library wrote into buffer, up to its first zero byte; 8-bit text in the
        /// system's code page (the ANSI one on Windows, UTF-8 on Linux).</summary>
        internal static string Text8(byte[] buffer)
        {
            int end = Array.IndexOf(buffer, (byte)0);
            return Encoding.Default.GetString(buffer, 0, end < 0 ? buffer.Length : end);
        }
    }
}
