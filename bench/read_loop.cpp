// read_loop FILE: reads FILE with read(2), 128 KiB at a time into one
// buffer, as intsum does, and does nothing else with the bytes; prints how
// many it read. The floor under any program that reads its input this way.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s FILE\n", argc > 0 && argv[0] != nullptr ? argv[0] : "read_loop");
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  constexpr std::size_t size = 128 * 1024;
  auto* buffer = static_cast<unsigned char*>(std::aligned_alloc(64, size));
  if (buffer == nullptr) {
    std::fprintf(stderr, "read_loop: out of memory\n");
    return 1;
  }
  unsigned long long total = 0;
  int status = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n > 0) {
      total += static_cast<unsigned long long>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      std::perror(argv[1]);
      status = 1;
      break;
    }
  }
  std::free(buffer);
  ::close(fd);
  if (status == 0) std::printf("%llu\n", total);
  return status;
}
