/* The entry point of the C sample host on POSIX systems: the command line is converted to wide
 * text in the locale of the environment, as VexilInitConn wants it. */
#include <locale.h>
#include <stdlib.h>

#include "sample_host_c.h"

#define MAX_ELEMENTS 64
#define MAX_ELEMENT_CHARACTERS 512

int main(int argc, char** argv) {
  static wchar_t text[MAX_ELEMENTS][MAX_ELEMENT_CHARACTERS];
  static const wchar_t* wide[MAX_ELEMENTS];
  int i;
  setlocale(LC_ALL, "");
  if (argc > MAX_ELEMENTS) argc = MAX_ELEMENTS;
  for (i = 0; i < argc; ++i) {
    if (mbstowcs(text[i], argv[i], MAX_ELEMENT_CHARACTERS - 1) == (size_t)-1) text[i][0] = 0;
    wide[i] = text[i];
  }
  return RunSampleHost(argc, wide);
}
