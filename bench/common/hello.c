/* The floor for start-up: a static C program that prints one line. */
#include <stdio.h>

#include "version.h"

int main(void) {
  puts("vellumo-cli " VELLUMO_VERSION " (protocol 1)");
  return 0;
}
