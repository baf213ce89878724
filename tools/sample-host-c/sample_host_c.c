/* sample-host-c: a console program that integrates the connector through its C interface, the
 * way a game server written in C, or built by a compiler other than the library's, does.
 *
 *   sample-host-c -GSID:7 -HAPORT:8990 -HAIP:127.0.0.1 [--run-seconds N] [--warn-seconds N]
 *
 * It hands its whole command line to VexilInitConn, starts the connector with a table of plain
 * functions, answers every request as the C++ sample host does, sends a warning every few
 * seconds while connected, and stops cleanly after N seconds or when its standard input ends,
 * whichever comes first. It uses no C library function, only host_platform.h. */
#include "sample_host_c.h"

#include <stdint.h>

#include "host_platform.h"
#include "vexilconn/vexilconn.h"

#define MAX_PLAYERS 64
#define REGION_COUNT 3
#define LARGEST_ANSWERED_CHECK 1000
#define GRID_CELLS 238

/* One line of output, built without the C library. */
typedef struct Line {
  char text[600];
  size_t size;
} Line;

static void AddText(Line* line, const char* text) {
  while (*text != '\0' && line->size + 1 < sizeof line->text) line->text[line->size++] = *text++;
}

/* 32-bit arithmetic only: the MSVC-ABI build has no C runtime helpers for 64-bit division. */
static void AddUnsigned(Line* line, uint32_t value) {
  char digits[12];
  int count = 0;
  do {
    digits[count++] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0 && line->size + 1 < sizeof line->text)
    line->text[line->size++] = digits[--count];
}

static void AddNumber(Line* line, int32_t value) {
  if (value < 0) AddText(line, "-");
  AddUnsigned(line, value < 0 ? 0u - (uint32_t)value : (uint32_t)value);
}

static void StartLine(Line* line, const char* text) {
  line->size = 0;
  AddText(line, "sample-host-c: ");
  AddText(line, text);
}

static void SayLine(Line* line) {
  line->text[line->size++] = '\n';
  PlatformWrite(line->text, line->size);
}

static void Say(const char* text) {
  Line line;
  StartLine(&line, text);
  SayLine(&line);
}

static int StartsWith(const char* text, const char* prefix) {
  while (*prefix != '\0') {
    if (*text++ != *prefix++) return 0;
  }
  return 1;
}

static int SameText(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

/* The game's state. The worker thread calls the table's functions, one at a time; the counters
 * it shares with the main thread are atomic, the map is the worker's alone. */
typedef struct Game {
  _Atomic int calls;
  _Atomic int32_t players;
  _Atomic int32_t ticks;
  char map[64];
} Game;

static Game* GameOf(void* context) { return (Game*)context; }

/* Copies text into the connector's result buffer, at most *resultLength bytes (its capacity on
 * entry), and stores how many bytes were written. */
static void WriteResult(const Line* text, char* result, int32_t* resultLength) {
  size_t count = 0;
  while (count < text->size && (int32_t)count < *resultLength) {
    result[count] = text->text[count];
    ++count;
  }
  *resultLength = (int32_t)count;
}

static int VEXILCONN_CALLBACK OnCheckRequest(void* context, int32_t value) {
  Line line;
  const int answer = value <= LARGEST_ANSWERED_CHECK;
  ++GameOf(context)->calls;
  StartLine(&line, "check ");
  AddNumber(&line, value);
  AddText(&line, answer ? ": healthy" : ": declined");
  SayLine(&line);
  return answer;
}

static int VEXILCONN_CALLBACK OnOrder(void* context, const char* name, const char* argument,
                                      char* result, int32_t* resultLength, uint32_t idA,
                                      uint32_t idB) {
  Game* game = GameOf(context);
  Line line;
  Line answer;
  ++game->calls;
  StartLine(&line, "order ");
  AddText(&line, name);
  AddText(&line, " \"");
  AddText(&line, argument);
  AddText(&line, "\" for ");
  AddUnsigned(&line, idA);
  AddText(&line, "/");
  AddUnsigned(&line, idB);
  SayLine(&line);
  answer.size = 0;
  if (SameText(name, "change-map")) {
    size_t i = 0;
    for (; argument[i] != '\0' && i + 1 < sizeof game->map; ++i) game->map[i] = argument[i];
    game->map[i] = '\0';
    AddText(&answer, "map is now ");
    AddText(&answer, game->map);
    WriteResult(&answer, result, resultLength);
    return 0;
  }
  if (SameText(name, "save")) {
    AddText(&answer, "saved ");
    AddNumber(&answer, game->players);
    AddText(&answer, " players");
    WriteResult(&answer, result, resultLength);
    return 0;
  }
  /* An order this server does not know: the reply carries no result text. */
  return 1;
}

static int VEXILCONN_CALLBACK OnCommand(void* context, uint32_t idA, uint32_t idB,
                                        const char* text) {
  Game* game = GameOf(context);
  Line line;
  const int known = StartsWith(text, "kick ") || StartsWith(text, "broadcast ");
  ++game->calls;
  if (StartsWith(text, "kick ") && game->players > 0) --game->players;
  StartLine(&line, "command \"");
  AddText(&line, text);
  AddText(&line, "\" for ");
  AddUnsigned(&line, idA);
  AddText(&line, "/");
  AddUnsigned(&line, idB);
  AddText(&line, known ? ": done" : ": unknown");
  SayLine(&line);
  return known;
}

static int VEXILCONN_CALLBACK OnCountsRequest(void* context, VexilCountsList* list) {
  Game* game = GameOf(context);
  const int32_t players = game->players;
  /* Players online, slots, then players per region and spare counters, as ten values. */
  int32_t counts[10] = {0};
  Line line;
  ++game->calls;
  counts[0] = players;
  counts[1] = MAX_PLAYERS;
  counts[2] = players / 2;
  counts[3] = players / 3;
  counts[4] = players - players / 2 - players / 3;
  counts[9] = game->ticks;
  VexilSetCounts(list, counts, 10);
  StartLine(&line, "counts: ");
  AddNumber(&line, players);
  AddText(&line, " players");
  SayLine(&line);
  return 1;
}

static int VEXILCONN_CALLBACK OnRegionRequest(void* context, VexilRegionList* list) {
  Game* game = GameOf(context);
  uint32_t region;
  Line line;
  ++game->calls;
  for (region = 0; region < REGION_COUNT; ++region) {
    /* Per region: players, creatures, load in percent. */
    int32_t values[3];
    values[0] = game->players / (int32_t)(region + 2);
    values[1] = (int32_t)(10 * (region + 1));
    values[2] = (int32_t)(20 + 15 * region);
    VexilAddRegion(list, region + 1, 0, values, 3);
  }
  StartLine(&line, "regions: ");
  AddNumber(&line, REGION_COUNT);
  SayLine(&line);
  return 1;
}

static int VEXILCONN_CALLBACK OnStatRequest(void* context, VexilStatList* list) {
  Game* game = GameOf(context);
  Line map;
  ++game->calls;
  map.size = 0;
  AddText(&map, "map ");
  AddText(&map, game->map);
  map.text[map.size] = '\0';
  VexilAddStat(list, 1, 0, (uint32_t)game->players, MAX_PLAYERS, 0, 0, "players");
  VexilAddStat(list, 2, 0, (uint32_t)game->ticks, 0, 0, 0, "uptime seconds");
  VexilAddStat(list, 3, 0, 16, 33, 0, 0, map.text);
  Say("statistics: 3");
  return 1;
}

static int VEXILCONN_CALLBACK OnRegionRequestExtra(void* context, VexilRegionExtraList* list) {
  /* The keep has a detailed grid of 238 cells; the other regions have none. */
  int32_t cells[GRID_CELLS];
  int32_t i;
  for (i = 0; i < GRID_CELLS; ++i) cells[i] = (i * 7 + GameOf(context)->ticks) % 10;
  VexilAddRegionExtra(list, 3, 1, cells, GRID_CELLS);
  Say("extra regions: 1 grid");
  return 1;
}

static int VEXILCONN_CALLBACK OnStatRequestExtra(void* context, VexilStatExtraList* list) {
  /* No extra statistics: the agent gets only the first list. */
  (void)context;
  (void)list;
  Say("extra statistics: none");
  return 0;
}

/* Moves the simulated game on by one second: players come and go. */
static void Tick(Game* game) {
  const int32_t tick = ++game->ticks;
  if (tick % 3 == 0 && game->players < MAX_PLAYERS) ++game->players;
  if (tick % 5 == 0 && game->players > 0) --game->players;
}

static int SameWide(const wchar_t* a, const char* b) {
  while (*a != 0 && *a == (wchar_t)*b) {
    ++a;
    ++b;
  }
  return *a == (wchar_t)*b;
}

/* A whole number of seconds from 0 to 86400; -1 when text is not one. */
static long ParseSeconds(const wchar_t* text) {
  long value = 0;
  if (*text == 0) return -1;
  for (; *text != 0; ++text) {
    if (*text < L'0' || *text > L'9') return -1;
    value = value * 10 + (*text - L'0');
    if (value > 86400) return -1;
  }
  return value;
}

static void SendWarning(int32_t code, const char* text, long seconds) {
  Line extra;
  Line line;
  int queued;
  extra.size = 0;
  AddText(&extra, "after ");
  AddNumber(&extra, (int32_t)seconds);
  AddText(&extra, " s");
  extra.text[extra.size] = '\0';
  queued = VexilSendWarningMsg(code, text, extra.text, 1, 0);
  StartLine(&line, "warning ");
  AddNumber(&line, code);
  AddText(&line, " \"");
  AddText(&line, text);
  AddText(&line, queued == VEXIL_WARNING_QUEUED ? "\": queued" : "\": not connected, dropped");
  SayLine(&line);
}

int RunSampleHost(int argc, const wchar_t* const* argv) {
  static Game game = {0, 12, 0, "harbour"};
  VexilHostCallbacks callbacks;
  long run_seconds = -1;
  long warn_seconds = 4;
  long elapsed = 0;
  long warnings = 0;
  int32_t last_status;
  int result;
  int i;
  Line line;

  for (i = 1; i + 1 < argc; ++i) {
    if ((SameWide(argv[i], "--run-seconds") && (run_seconds = ParseSeconds(argv[i + 1])) < 0) ||
        (SameWide(argv[i], "--warn-seconds") && (warn_seconds = ParseSeconds(argv[i + 1])) < 0)) {
      Say("bad number after an option; usage: sample-host-c -GSID:N -HAPORT:8990 -HAIP:ADDRESS "
          "[--run-seconds N] [--warn-seconds N]");
      return 2;
    }
  }

  result = VexilInitConn(argc, argv);
  if (result != VEXIL_INIT_OK) {
    StartLine(&line, "VexilInitConn refused the command line (");
    AddNumber(&line, result);
    AddText(&line, "); the line before this one says why");
    SayLine(&line);
    return 2;
  }
  callbacks.size = sizeof callbacks;
  callbacks.context = &game;
  callbacks.onCheckRequest = OnCheckRequest;
  callbacks.onOrder = OnOrder;
  callbacks.onCommand = OnCommand;
  callbacks.onCountsRequest = OnCountsRequest;
  callbacks.onRegionRequest = OnRegionRequest;
  callbacks.onStatRequest = OnStatRequest;
  callbacks.onRegionRequestExtra = OnRegionRequestExtra;
  callbacks.onStatRequestExtra = OnStatRequestExtra;
  result = VexilRunConnCallbacks(&callbacks);
  if (result != VEXIL_RUN_STARTED) {
    StartLine(&line, "VexilRunConnCallbacks failed (");
    AddNumber(&line, result);
    AddText(&line, ")");
    SayLine(&line);
    return 1;
  }
  last_status = VexilGetStatus();
  StartLine(&line, "connector started, status ");
  AddNumber(&line, last_status);
  SayLine(&line);
  if (!PlatformWatchInput()) Say("standard input is not watched; stopping by time only");

  for (;;) {
    int step;
    int32_t status = last_status;
    /* One second in steps of 50 ms, watching the status and the input. */
    for (step = 0; step < 20 && !PlatformInputEnded(); ++step) {
      PlatformSleep(50);
      status = VexilGetStatus();
      if (status != last_status) {
        StartLine(&line, "status ");
        AddNumber(&line, last_status);
        AddText(&line, " -> ");
        AddNumber(&line, status);
        SayLine(&line);
        last_status = status;
      }
    }
    if (PlatformInputEnded()) break;
    Tick(&game);
    ++elapsed;
    if (warn_seconds > 0 && elapsed % warn_seconds == 0 && status == VEXIL_STATUS_CONNECTED) {
      SendWarning(1001 + warnings % 2, warnings % 2 ? "tick overrun" : "low memory", elapsed);
      ++warnings;
    }
    if (run_seconds >= 0 && elapsed >= run_seconds) break;
  }
  StartLine(&line, "stopping after ");
  AddNumber(&line, (int32_t)elapsed);
  AddText(&line, " s, ");
  AddNumber(&line, game.calls);
  AddText(&line, " requests served");
  SayLine(&line);
  VexilStopConn();
  StartLine(&line, "stopped, status ");
  AddNumber(&line, VexilGetStatus());
  SayLine(&line);
  return 0;
}
