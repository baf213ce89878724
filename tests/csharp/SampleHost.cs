// sample-host-cs: the sample game server in C#, through the binding include/vexilconn/VexilConn.cs.
// Answers as the C++ and C sample hosts do, so that the same agent script runs against it.
//
//   mono sample-host-cs.exe -GSID:7 -HAPORT:8990 -HAIP:ADDRESS [--run-seconds N]
//
// Stops after N seconds or when standard input ends, whichever comes first.
using System;
using System.Text;
using System.Threading;
using Vexil;

sealed class SampleGame : IVexilHost {
  const int MaxPlayers = 64;
  int players_ = 12;  // shared with the main thread: Interlocked or Volatile access only
  int ticks_;
  string map_ = "harbour";  // the worker's alone

  public int Players { get { return Volatile.Read(ref players_); } }

  public static void Say(string line) {
    Console.Out.WriteLine("sample-host-cs: " + line);
    Console.Out.Flush();
  }

  public bool OnCheckRequest(int value) {
    Say("check " + value + (value <= 1000 ? ": healthy" : ": declined"));
    return value <= 1000;
  }

  public string OnOrder(string name, string argument, uint idA, uint idB) {
    Say("order " + name + " \"" + argument + "\" for " + idA + "/" + idB);
    if (name == "change-map") {
      map_ = argument;
      return "map is now " + map_;
    }
    if (name == "save") return "saved " + Players + " players";
    return null;
  }

  public bool OnCommand(uint idA, uint idB, string text) {
    bool known = text.StartsWith("kick ") || text.StartsWith("broadcast ");
    Say("command \"" + text + "\" for " + idA + "/" + idB + (known ? ": done" : ": unknown"));
    return known;
  }

  public void OnCountsRequest(CountsList counts) {
    int players = Players;
    counts.Set(new[] {players, MaxPlayers, players / 2, players / 3, players - players / 2 - players / 3,
                      0, 0, 0, 0, Volatile.Read(ref ticks_)});
    Say("counts: " + players + " players");
  }

  public void OnRegionRequest(RegionList regions) {
    for (uint region = 0; region < 3; ++region) {
      regions.Add(region + 1, 0, new[] {Players / (int)(region + 2), (int)(10 * (region + 1)),
                                        (int)(20 + 15 * region)});
    }
    Say("regions: 3");
  }

  StatList kept_;  // the list of the last statistics request, kept to show it is refused later

  public void OnStatRequest(StatList stats) {
    kept_ = stats;
    stats.Add(1, 0, (uint)Players, MaxPlayers, 0, 0, "players");
    stats.Add(2, 0, (uint)Volatile.Read(ref ticks_), 0, 0, 0, "uptime seconds");
    stats.Add(3, 0, 16, 33, 0, 0, "map " + map_);
    Say("statistics: 3");
  }

  public bool OnRegionRequestExtra(RegionList regions) {
    var cells = new int[238];
    for (int i = 0; i < cells.Length; ++i) cells[i] = (i * 7 + Volatile.Read(ref ticks_)) % 10;
    regions.Add(3, 1, cells);
    Say("extra regions: 1 grid");
    return true;
  }

  public bool OnStatRequestExtra(StatList stats) {
    try {
      kept_.Add(9, 9, 0, 0, 0, 0, "too late");
      Say("a kept list was used after its call");
    } catch (ObjectDisposedException) {
      Say("a kept list is refused after its call");
    }
    Say("extra statistics: none");
    return false;
  }

  public void Tick() {
    int tick = Interlocked.Increment(ref ticks_);
    if (tick % 3 == 0 && Players < MaxPlayers) Interlocked.Increment(ref players_);
    if (tick % 5 == 0 && Players > 0) Interlocked.Decrement(ref players_);
  }
}

static class Program {
  static int Main(string[] args) {
    int runSeconds = -1;
    for (int i = 0; i + 1 < args.Length; ++i) {
      if (args[i] == "--run-seconds") runSeconds = int.Parse(args[i + 1]);
    }
    // The connector reads the command line as a C program's: program first.
    var commandLine = new string[args.Length + 1];
    commandLine[0] = "sample-host-cs";
    Array.Copy(args, 0, commandLine, 1, args.Length);
    InitResult init = VexilConnector.Init(commandLine);
    if (init != InitResult.Ok) {
      SampleGame.Say("VexilInitConn refused the command line (" + init + "); the line before this one says why");
      return 2;
    }
    var game = new SampleGame();
    int elapsed = 0;
    using (var connector = new VexilConnector(game)) {
      connector.CallbackFailed += e => SampleGame.Say("the host threw: " + e.Message);
      RunResult run = connector.Start();
      if (run != RunResult.Started) {
        SampleGame.Say("Start failed (" + run + ")");
        return 1;
      }
      SampleGame.Say("connector started, status " + VexilConnector.Status);
      var inputEnded = new ManualResetEvent(false);
      var reader = new Thread(() => {
        while (Console.In.ReadLine() != null) {
        }
        inputEnded.Set();
      });
      reader.IsBackground = true;
      reader.Start();
      ConnStatus last = VexilConnector.Status;
      int warnings = 0;
      while (!inputEnded.WaitOne(1000)) {
        ConnStatus status = VexilConnector.Status;
        if (status != last) SampleGame.Say("status " + last + " -> " + status);
        last = status;
        game.Tick();
        ++elapsed;
        if (elapsed % 4 == 0 && status == ConnStatus.Connected) {
          string text = warnings % 2 == 1 ? "tick overrun" : "low memory";
          bool queued = VexilConnector.SendWarning(1001 + warnings % 2, text, "after " + elapsed + " s", 1, 0);
          SampleGame.Say("warning \"" + text + "\": " + (queued ? "queued" : "not connected, dropped"));
          ++warnings;
        }
        if (runSeconds >= 0 && elapsed >= runSeconds) break;
      }
      SampleGame.Say("stopping after " + elapsed + " s");
    }
    SampleGame.Say("stopped, status " + VexilConnector.Status);
    ConnCounters counters = VexilConnector.Counters;
    ulong ended = counters.ClosedByAgent + counters.ClosedByError + counters.ClosedAtOutgoingLimit +
                  counters.ClosedByStop;
    SampleGame.Say("counters: " + counters.Size + " bytes, " + counters.Registrations +
                   " registrations, " + ended + " ended, " + counters.WarningsQueued +
                   " warnings queued, " + counters.FramesReceived + " frames received");
    return 0;
  }
}
