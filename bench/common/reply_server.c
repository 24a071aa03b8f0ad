/* A minimal app-link server for benchmarks: answers every connection with
 * the bytes of a file (or a fixed ping reply), then a line feed.
 *
 *   reply_server <socket path> [reply file]
 */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

static char* load(const char* path, size_t* size) {
  FILE* f = fopen(path, "rb");
  if (!f) {
    perror(path);
    exit(1);
  }
  struct stat st;
  fstat(fileno(f), &st);
  char* data = malloc((size_t)st.st_size + 1);
  *size = fread(data, 1, (size_t)st.st_size, f);
  fclose(f);
  data[(*size)++] = '\n';
  return data;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: reply_server <socket> [reply file]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  static char pong[] = "{\"ok\":true,\"result\":\"pong\"}\n";
  size_t size = sizeof pong - 1;
  char* reply = argc > 2 ? load(argv[2], &size) : pong;

  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
  unlink(argv[1]);
  if (bind(fd, (struct sockaddr*)&address, sizeof address) != 0 || listen(fd, 64) != 0) {
    perror(argv[1]);
    return 1;
  }
  char buffer[65536];
  for (;;) {
    int client = accept(fd, NULL, NULL);
    if (client < 0) {
      continue;
    }
    /* Read the request line, then answer. */
    ssize_t n;
    while ((n = read(client, buffer, sizeof buffer)) > 0 && !memchr(buffer, '\n', (size_t)n)) {
    }
    for (size_t sent = 0; sent < size;) {
      ssize_t w = write(client, reply + sent, size - sent);
      if (w <= 0) {
        break;
      }
      sent += (size_t)w;
    }
    close(client);
  }
}
