# Writes a reply line of about `bytes` bytes in one of two shapes:
#   shape=string   one long transcript string
#   shape=objects  an array of small meeting-like objects
# awk -v shape=objects -v bytes=33554000 -f make_reply.awk
BEGIN {
  srand(7)
  if (shape == "string") {
    printf "{\"ok\":true,\"result\":{\"id\":\"0123456789abcdef0123456789abcdef\",\"transcript\":\""
    line = "Speaker 1: and then we said \\\"let's ship it\\\" \\u00e9t\\u00e9 \\t ok.\\n"
    written = 90
    while (written + length(line) < bytes - 4) {
      printf "%s", line
      written += length(line)
    }
    printf "\"}}"
  } else {
    printf "{\"ok\":true,\"result\":["
    written = 21
    for (i = 0; written < bytes - 400; i++) {
      if (i > 0) printf ","
      item = sprintf("{\"title\":\"Weekly sync %d\",\"status\":\"done\",\"id\":\"%032x\",\"durationSeconds\":%d.5,\"speakerCount\":%d,\"notes\":null,\"createdAt\":\"2026-12-07T08:%02d:00Z\",\"speakerLabels\":true}", i, i, int(rand() * 7200), int(rand() * 9), i % 60)
      printf "%s", item
      written += length(item) + 1
    }
    printf "]}"
  }
}
