// VexilConn for C# servers (.NET, Mono, Unity): drop this one file into the server's project.
//
// It calls the library's C interface (vexilconn.h) through P/Invoke: VexilConn.dll on Windows,
// libvexilconn.so on Linux; the library must lie where the runtime finds native libraries (beside
// the server's executable, or on the library path). The server implements IVexilHost and runs
// one VexilConnector:
//
//   VexilConnector.Init(commandLine);               // the server's own command line, program first
//   using (var connector = new VexilConnector(host)) {
//     connector.Start();
//     ...                                           // connector.SendWarning, connector.Status
//   }                                               // Dispose stops the connector
//
// The connector calls the host on its own worker thread, one call at a time, only while connected
// and registered; return promptly. An exception thrown by the host is caught (the native caller
// could not take it), reported through CallbackFailed, and the request gets the answer of a null
// entry (no check answer, empty lists, failure). The connector can start once per process.
using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Vexil {

// VexilGetStatus: the connector's state.
public enum ConnStatus {
  Idle = 0,          // nothing has been started
  Reconnecting = 1,  // the connection to the HA agent was lost; reconnecting now
  Connected = 2,     // connected and registered: requests served, warnings taken
  Disabled = 4,      // switched off for this process by the NOUSEVEXIL option
  Connecting = 5,    // the worker runs and is trying to connect
}

// VexilInitConn's results.
public enum InitResult {
  Ok = 0,          // options accepted, or the connector was switched off
  BadOptions = 2,  // GSID, HAPORT or HAIP missing or invalid (the library's log says which)
}

// VexilRunConnCallbacks' results.
public enum RunResult {
  Started = 0,         // worker started, or the connector is switched off
  AlreadyRunning = 3,  // a worker was started before (also after a stop)
  ThreadFailed = 4,    // the worker could not be created, or a stop came first
  BadCallbacks = 5,    // the callback table was refused (a binding out of step with the library)
}

// VexilGetCounters: what the connector has counted since the library was loaded (see
// VexilConnCounters in vexilconn.h). The same fields in the same order as the C struct, so the
// same size and offsets in 32-bit and 64-bit processes.
[StructLayout(LayoutKind.Sequential)]
public struct ConnCounters {
  public uint Size;                    // the bytes the library filled
  public uint Reserved;
  public ulong ConnectAttempts;        // attempts to reach the agent, the failed ones included
  public ulong Connections;            // attempts whose TCP connect succeeded
  public ulong Registrations;          // connections registered with the agent
  public ulong ClosedByAgent;          // registered connections the agent closed
  public ulong ClosedByError;          // ... ended by an error
  public ulong ClosedAtOutgoingLimit;  // ... dropped because the agent stopped reading
  public ulong ClosedByStop;           // ... ended by the stop
  public ulong WarningsQueued;         // SendWarning calls that returned true
  public ulong WarningsRefused;        // SendWarning calls that returned false
  public ulong WarningsDropped;        // queued warnings that never reached a connection
  public ulong FramesSent;
  public ulong FramesReceived;
  public ulong BytesSent;
  public ulong BytesReceived;
  public ulong BytesQueued;            // now: bytes waiting to be sent
  public uint LastSystemError;         // the last system error code of the connection, or 0
  public uint Reserved2;
}

// The server's answers to the HA agent, called on the connector's worker thread.
public interface IVexilHost {
  // True: the connector answers the check; false: no answer is sent.
  bool OnCheckRequest(int value);
  // Carry out the order. The text returned (at most 1024 bytes once encoded) is the reply's
  // result text; null gives an empty result text.
  string OnOrder(string name, string argument, uint idA, uint idB);
  // Carry out a command: true reports success to the agent, false failure.
  bool OnCommand(uint idA, uint idB, string text);
  // Fill the counts; the reply is always sent.
  void OnCountsRequest(CountsList counts);
  // Add the regions; the reply is always sent.
  void OnRegionRequest(RegionList regions);
  // Add the statistics; the reply is always sent.
  void OnStatRequest(StatList stats);
  // Add the extra regions; true sends the extra reply, false does not.
  bool OnRegionRequestExtra(RegionList regions);
  // Add the extra statistics; true sends the extra reply, false does not.
  bool OnStatRequestExtra(StatList stats);
}

// A list reply being filled: valid only during the host call it was passed to. Using it later
// throws ObjectDisposedException instead of touching memory the connector has freed.
public abstract class ReplyList {
  IntPtr handle_;

  internal ReplyList(IntPtr handle) { handle_ = handle; }

  internal void Close() { handle_ = IntPtr.Zero; }

  protected IntPtr Handle {
    get {
      if (handle_ == IntPtr.Zero) {
        throw new ObjectDisposedException(GetType().Name, "a reply list is valid only during the host call");
      }
      return handle_;
    }
  }

  protected static void Check(int added) {
    if (added != Native.ListAdded) throw new InvalidOperationException("the connector refused the values");
  }
}

public sealed class CountsList : ReplyList {
  internal CountsList(IntPtr handle) : base(handle) {}

  // The counts become these values (a later call replaces an earlier one).
  public void Set(int[] values) {
    if (values == null) throw new ArgumentNullException("values");
    Check(Native.VexilSetCounts(Handle, values, values.Length));
  }
}

// Regions for the reply or, in OnRegionRequestExtra, the extra reply.
public sealed class RegionList : ReplyList {
  readonly bool extra_;

  internal RegionList(IntPtr handle, bool extra) : base(handle) { extra_ = extra; }

  // Appends one region; the connector puts its GSID between idA and idB.
  public void Add(uint idA, uint idB, int[] values) {
    if (values == null) throw new ArgumentNullException("values");
    Check(extra_ ? Native.VexilAddRegionExtra(Handle, idA, idB, values, values.Length)
                 : Native.VexilAddRegion(Handle, idA, idB, values, values.Length));
  }
}

// Statistics for the reply or, in OnStatRequestExtra, the extra reply.
public sealed class StatList : ReplyList {
  readonly bool extra_;

  internal StatList(IntPtr handle, bool extra) : base(handle) { extra_ = extra; }

  // Appends one entry; a null text is sent as empty.
  public void Add(uint idA, uint idB, uint value1, uint value2, uint value3, uint value4, string text) {
    Check(extra_ ? Native.VexilAddStatExtra(Handle, idA, idB, value1, value2, value3, value4, text)
                 : Native.VexilAddStat(Handle, idA, idB, value1, value2, value3, value4, text));
  }
}

// The process's connector. Construct it with the host, Start it once, Dispose it to stop.
public sealed class VexilConnector : IDisposable {
  // Keeps the started connector, and with it the delegates the library calls, reachable until
  // Dispose, even if the server drops its last reference.
  static VexilConnector running_;
  static readonly object runningLock_ = new object();

  readonly IVexilHost host_;
  // The table's delegates: the library holds only their function pointers.
  readonly Native.CheckFn check_;
  readonly Native.OrderFn order_;
  readonly Native.CommandFn command_;
  readonly Native.ListFn counts_;
  readonly Native.ListFn regions_;
  readonly Native.ListFn stats_;
  readonly Native.ListFn regionsExtra_;
  readonly Native.ListFn statsExtra_;
  bool disposed_;

  public VexilConnector(IVexilHost host) {
    if (host == null) throw new ArgumentNullException("host");
    host_ = host;
    check_ = OnCheck;
    order_ = OnOrder;
    command_ = OnCommand;
    counts_ = OnCounts;
    regions_ = OnRegions;
    stats_ = OnStats;
    regionsExtra_ = OnRegionsExtra;
    statsExtra_ = OnStatsExtra;
  }

  // An exception the host threw inside a call, raised on the worker thread after the request got
  // its default answer. A handler must not throw.
  public event Action<Exception> CallbackFailed;

  // Reads the connector's options from the server's command line, program first (for example
  // Environment.GetCommandLineArgs()).
  public static InitResult Init(string[] commandLine) {
    if (commandLine == null) throw new ArgumentNullException("commandLine");
    using (var argv = new WideArgv(commandLine)) {
      return (InitResult)Native.VexilInitConn(commandLine.Length, argv.Pointer);
    }
  }

  // The current status; never blocks.
  public static ConnStatus Status {
    get { return (ConnStatus)Native.VexilGetStatus(); }
  }

  // The counters; any thread, any time, also before Init and after Dispose; never blocks. Fields
  // of a later binding that the library does not know stay 0 (Size says how far it filled).
  public static ConnCounters Counters {
    get {
      var counters = new ConnCounters();
      counters.Size = (uint)Marshal.SizeOf(typeof(ConnCounters));
      if (Native.VexilGetCounters(ref counters) != Native.CountersFilled) counters = new ConnCounters();
      return counters;
    }
  }

  // Starts the worker, which connects to the HA agent and then calls the host.
  public RunResult Start() {
    lock (runningLock_) {
      if (disposed_) throw new ObjectDisposedException("VexilConnector");
      var table = new Native.HostCallbacks();
      table.Size = (uint)Marshal.SizeOf(typeof(Native.HostCallbacks));
      table.Context = IntPtr.Zero;
      table.OnCheckRequest = Marshal.GetFunctionPointerForDelegate(check_);
      table.OnOrder = Marshal.GetFunctionPointerForDelegate(order_);
      table.OnCommand = Marshal.GetFunctionPointerForDelegate(command_);
      table.OnCountsRequest = Marshal.GetFunctionPointerForDelegate(counts_);
      table.OnRegionRequest = Marshal.GetFunctionPointerForDelegate(regions_);
      table.OnStatRequest = Marshal.GetFunctionPointerForDelegate(stats_);
      table.OnRegionRequestExtra = Marshal.GetFunctionPointerForDelegate(regionsExtra_);
      table.OnStatRequestExtra = Marshal.GetFunctionPointerForDelegate(statsExtra_);
      var result = (RunResult)Native.VexilRunConnCallbacks(ref table);
      if (result == RunResult.Started) running_ = this;
      return result;
    }
  }

  // Queues a warning: true when queued; false when not connected, or while a burst faster than the
  // connector sends has 65,536 warnings (or 8 MiB) waiting already.
  public static bool SendWarning(int code, string text, string extraText, uint idA, uint idB) {
    return Native.VexilSendWarningMsg(code, text ?? "", extraText ?? "", idA, idB) == Native.WarningQueued;
  }

  // Stops the connector and waits for its worker (VexilStopConn). From inside a host call it only
  // asks the worker to stop; call Dispose again from one of the server's own threads.
  public void Dispose() {
    Native.VexilStopConn();
    lock (runningLock_) {
      disposed_ = true;
      if (running_ == this) running_ = null;
    }
  }

  // The table's entries: each catches what the host throws.

  int OnCheck(IntPtr context, int value) {
    try {
      return host_.OnCheckRequest(value) ? 1 : 0;
    } catch (Exception e) {
      Report(e);
      return 0;
    }
  }

  int OnOrder(IntPtr context, IntPtr name, IntPtr argument, IntPtr result, IntPtr resultLength,
              uint idA, uint idB) {
    try {
      string text = host_.OnOrder(Marshal.PtrToStringAnsi(name), Marshal.PtrToStringAnsi(argument), idA, idB);
      if (text == null) return 1;
      int capacity = Marshal.ReadInt32(resultLength);
      byte[] bytes = NarrowBytes(text);
      int count = Math.Min(bytes.Length, Math.Max(capacity, 0));
      Marshal.Copy(bytes, 0, result, count);
      Marshal.WriteInt32(resultLength, count);
      return 0;
    } catch (Exception e) {
      Report(e);
      return 1;
    }
  }

  int OnCommand(IntPtr context, uint idA, uint idB, IntPtr text) {
    try {
      return host_.OnCommand(idA, idB, Marshal.PtrToStringAnsi(text)) ? 1 : 0;
    } catch (Exception e) {
      Report(e);
      return 0;
    }
  }

  int OnCounts(IntPtr context, IntPtr handle) {
    var list = new CountsList(handle);
    try {
      host_.OnCountsRequest(list);
    } catch (Exception e) {
      Report(e);
    } finally {
      list.Close();
    }
    return 1;
  }

  int OnRegions(IntPtr context, IntPtr handle) { return Regions(handle, false); }

  int OnRegionsExtra(IntPtr context, IntPtr handle) { return Regions(handle, true); }

  int Regions(IntPtr handle, bool extra) {
    var list = new RegionList(handle, extra);
    try {
      if (!extra) {
        host_.OnRegionRequest(list);
        return 1;
      }
      return host_.OnRegionRequestExtra(list) ? 1 : 0;
    } catch (Exception e) {
      Report(e);
      return extra ? 0 : 1;
    } finally {
      list.Close();
    }
  }

  int OnStats(IntPtr context, IntPtr handle) { return Stats(handle, false); }

  int OnStatsExtra(IntPtr context, IntPtr handle) { return Stats(handle, true); }

  int Stats(IntPtr handle, bool extra) {
    var list = new StatList(handle, extra);
    try {
      if (!extra) {
        host_.OnStatRequest(list);
        return 1;
      }
      return host_.OnStatRequestExtra(list) ? 1 : 0;
    } catch (Exception e) {
      Report(e);
      return extra ? 0 : 1;
    } finally {
      list.Close();
    }
  }

  void Report(Exception e) {
    Action<Exception> handler = CallbackFailed;
    if (handler == null) return;
    try {
      handler(e);
    } catch (Exception) {
      // Nothing may leave a call from native code.
    }
  }

  // text in the narrow encoding the library uses (the ANSI code page on Windows, UTF-8
  // elsewhere), as the marshaller encodes a string parameter.
  static byte[] NarrowBytes(string text) {
    IntPtr native = Marshal.StringToHGlobalAnsi(text);
    try {
      int length = 0;
      while (Marshal.ReadByte(native, length) != 0) ++length;
      var bytes = new byte[length];
      Marshal.Copy(native, bytes, 0, length);
      return bytes;
    } finally {
      Marshal.FreeHGlobal(native);
    }
  }

  // A wchar_t* array in unmanaged memory: UTF-16 on Windows, UTF-32 elsewhere, as wchar_t is.
  sealed class WideArgv : IDisposable {
    readonly IntPtr[] elements_;
    public IntPtr Pointer { get; private set; }

    public WideArgv(string[] strings) {
      bool windows = Environment.OSVersion.Platform == PlatformID.Win32NT;
      Encoding encoding = windows ? Encoding.Unicode : Encoding.UTF32;
      int terminator = windows ? 2 : 4;
      elements_ = new IntPtr[strings.Length];
      Pointer = Marshal.AllocHGlobal(IntPtr.Size * Math.Max(strings.Length, 1));
      for (int i = 0; i < strings.Length; ++i) {
        byte[] bytes = encoding.GetBytes(strings[i] ?? "");
        elements_[i] = Marshal.AllocHGlobal(bytes.Length + terminator);
        Marshal.Copy(bytes, 0, elements_[i], bytes.Length);
        for (int k = 0; k < terminator; ++k) Marshal.WriteByte(elements_[i], bytes.Length + k, 0);
        Marshal.WriteIntPtr(Pointer, i * IntPtr.Size, elements_[i]);
      }
    }

    public void Dispose() {
      foreach (IntPtr element in elements_) Marshal.FreeHGlobal(element);
      Marshal.FreeHGlobal(Pointer);
    }
  }
}

// The C interface as declared in vexilconn.h.
static class Native {
  // VexilConn.dll on Windows (file names there ignore letter case), libvexilconn.so elsewhere.
  const string Library = "vexilconn";

  internal const int WarningQueued = 1;
  internal const int ListAdded = 1;
  internal const int CountersFilled = 1;

  [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
  internal delegate int CheckFn(IntPtr context, int value);
  [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
  internal delegate int OrderFn(IntPtr context, IntPtr name, IntPtr argument, IntPtr result,
                                IntPtr resultLength, uint idA, uint idB);
  [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
  internal delegate int CommandFn(IntPtr context, uint idA, uint idB, IntPtr text);
  [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
  internal delegate int ListFn(IntPtr context, IntPtr list);

  // VexilHostCallbacks: the same fields in the same order, so the same size and padding.
  [StructLayout(LayoutKind.Sequential)]
  internal struct HostCallbacks {
    public uint Size;
    public IntPtr Context;
    public IntPtr OnCheckRequest;
    public IntPtr OnOrder;
    public IntPtr OnCommand;
    public IntPtr OnCountsRequest;
    public IntPtr OnRegionRequest;
    public IntPtr OnStatRequest;
    public IntPtr OnRegionRequestExtra;
    public IntPtr OnStatRequestExtra;
  }

  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern int VexilInitConn(int argc, IntPtr argv);
  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern int VexilRunConnCallbacks(ref HostCallbacks callbacks);
  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern void VexilStopConn();
  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern int VexilSendWarningMsg(int code, [MarshalAs(UnmanagedType.LPStr)] string text,
                                                 [MarshalAs(UnmanagedType.LPStr)] string extraText,
                                                 uint idA, uint idB);
  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern int VexilGetStatus();
  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern int VexilSetCounts(IntPtr list, int[] values, int count);
  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern int VexilAddRegion(IntPtr list, uint idA, uint idB, int[] values, int count);
  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern int VexilAddRegionExtra(IntPtr list, uint idA, uint idB, int[] values, int count);
  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern int VexilAddStat(IntPtr list, uint idA, uint idB, uint value1, uint value2,
                                          uint value3, uint value4,
                                          [MarshalAs(UnmanagedType.LPStr)] string text);
  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern int VexilAddStatExtra(IntPtr list, uint idA, uint idB, uint value1, uint value2,
                                               uint value3, uint value4,
                                               [MarshalAs(UnmanagedType.LPStr)] string text);
  [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
  internal static extern int VexilGetCounters(ref ConnCounters counters);
}

}  // namespace Vexil
