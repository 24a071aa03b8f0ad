/* The floor for one exchange on the app link: connect, write the ping
 * request, read the reply to its end, print it, close.
 *
 *   ping_client <socket path>
 */
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
  if (connect(fd, (struct sockaddr*)&address, sizeof address) != 0) {
    perror(argv[1]);
    return 3;
  }
  static const char request[] =
      "{\"version\":1,\"command\":\"ping\",\"args\":{},\"detach\":false}\n";
  if (write(fd, request, sizeof request - 1) != (ssize_t)(sizeof request - 1)) {
    return 1;
  }
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) {
    fwrite(buffer, 1, (size_t)n, stdout);
  }
  close(fd);
  return 0;
}
