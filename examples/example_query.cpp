// Walks the road of one query on an embedded database file.
#include <cstdio>

int main() {
  std::printf("example: not yet wired to the client library\n");
  return 0;
}
