/* The C sample host's platform on POSIX systems. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include "host_platform.h"

/* Set once by the input thread, read by the main thread. */
static _Atomic int g_input_ended;

void PlatformWrite(const char* text, size_t size) {
  while (size > 0) {
    const ssize_t written = write(1, text, size);
    if (written <= 0) return;
    text += written;
    size -= (size_t)written;
  }
}

void PlatformSleep(unsigned milliseconds) {
  struct timespec pause;
  pause.tv_sec = milliseconds / 1000;
  pause.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
  nanosleep(&pause, NULL);
}

static void* ReadInputToEnd(void* unused) {
  char chunk[256];
  (void)unused;
  while (read(0, chunk, sizeof chunk) > 0) {
  }
  g_input_ended = 1;
  return NULL;
}

int PlatformWatchInput(void) {
  pthread_t thread;
  if (pthread_create(&thread, NULL, ReadInputToEnd, NULL) != 0) return 0;
  pthread_detach(thread);
  return 1;
}

int PlatformInputEnded(void) { return g_input_ended; }
