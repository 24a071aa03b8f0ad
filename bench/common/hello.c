/* The floor for start-up: a static C program that prints one line. */
#include <stdio.h>

int main(void) {
  puts("vellumo-cli 0.28.8 (protocol 1)");
  return 0;
}
