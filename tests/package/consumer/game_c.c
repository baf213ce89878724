/* game-c: the consumer's host in C, through the C interface alone (the callback table), as a host
 * built by any C compiler would use it. The same source builds a Windows host (game-c.exe, wmain)
 * and a Linux one.
 *
 *   game-c -GSID:7 -HAPORT:8990 -HAIP:127.0.0.1 -CNFGFILE:game.ini
 *
 * Connects to the HA agent, answers a statistics request, sends a warning, waits for the agent's
 * check request that follows it, reads the counters and stops. Prints what it saw; exits 0 when
 * everything held. */
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <locale.h>
#include <time.h>
#endif

#include <vexilconn/vexilconn.h>

/* Written by the connector's worker in the callbacks, read by the main thread. */
static atomic_int stat_requests;
static atomic_int last_check;

static int VEXILCONN_CALLBACK OnCheckRequest(void* context, int32_t value) {
  (void)context;
  atomic_store(&last_check, value);
  return 0; /* declined: the check only tells the host that the warning arrived */
}

static int VEXILCONN_CALLBACK OnStatRequest(void* context, VexilStatList* list) {
  (void)context;
  VexilAddStat(list, 1, 2, 10, 20, 30, 40, "players");
  atomic_fetch_add(&stat_requests, 1);
  return 0;
}

static int Check(int condition, const char* what) {
  printf("%s: %s\n", condition ? "ok" : "FAILED", what);
  return condition;
}

static void SleepTenthSecond(void) {
#ifdef _WIN32
  Sleep(100);
#else
  const struct timespec tenth = {0, 100000000L};
  nanosleep(&tenth, NULL);
#endif
}

static int Connected(void) { return VexilGetStatus() == VEXIL_STATUS_CONNECTED; }
static int StatAnswered(void) { return atomic_load(&stat_requests) > 0; }
static int CheckArrived(void) { return atomic_load(&last_check) == 9; }

/* Polls until done() holds or 30 s have passed; the connector's first attempt comes after 5 s. */
static int WaitFor(int (*done)(void)) {
  for (int i = 0; i < 300 && !done(); ++i) SleepTenthSecond();
  return done();
}

static int Run(int argc, const wchar_t* const* argv) {
  int good = 1;
  VexilHostCallbacks callbacks;
  memset(&callbacks, 0, sizeof callbacks);
  callbacks.size = sizeof callbacks;
  callbacks.onCheckRequest = OnCheckRequest;
  callbacks.onStatRequest = OnStatRequest;

  good &= Check(VexilInitConn(argc, argv) == VEXIL_INIT_OK, "VexilInitConn accepts the options");
  good &= Check(VexilRunConnCallbacks(&callbacks) == VEXIL_RUN_STARTED,
                "VexilRunConnCallbacks starts the worker");
  good &= Check(WaitFor(Connected), "connected and registered");
  good &= Check(WaitFor(StatAnswered), "the agent's statistics request reached the host");
  good &= Check(VexilSendWarningMsg(3, "consumer warning", "from the C consumer", 1, 2) ==
                    VEXIL_WARNING_QUEUED,
                "warning queued");
  good &=
      Check(WaitFor(CheckArrived), "the agent's check request after the warning reached the host");

  VexilConnCounters counters;
  memset(&counters, 0, sizeof counters);
  counters.size = sizeof counters;
  good &= Check(VexilGetCounters(&counters) == VEXIL_COUNTERS_FILLED &&
                    counters.registrations == 1 && counters.warningsQueued == 1,
                "the counters show one registration and one warning");
  VexilStopConn();
  printf("%s\n", good ? "consumer passed" : "consumer FAILED");
  return good ? 0 : 1;
}

#ifdef _WIN32
/* wmain: the host passes its own wide command line on, as the library expects. */
int wmain(int argc, wchar_t** argv) { return Run(argc, (const wchar_t* const*)argv); }
#else
/* A Linux host converts its command line from the locale's encoding to wide text. */
int main(int argc, char** argv) {
  setlocale(LC_CTYPE, "");
  wchar_t** wide = calloc((size_t)argc + 1, sizeof *wide);
  if (wide == NULL) return 1;
  int status = 1;
  for (int i = 0; i < argc; ++i) {
    const size_t length = mbstowcs(NULL, argv[i], 0);
    wide[i] = calloc(length == (size_t)-1 ? 1 : length + 1, sizeof **wide);
    if (wide[i] == NULL) goto done;
    if (length != (size_t)-1) mbstowcs(wide[i], argv[i], length + 1);
  }
  status = Run(argc, (const wchar_t* const*)wide);
done:
  for (int i = 0; i < argc; ++i) free(wide[i]);
  free(wide);
  return status;
}
#endif
