#include "intsum/sequential_compute.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/fold.h"
#include "core/scan.h"

namespace intsum {

namespace {

// Feeds the stream through `scan` in fixed-size reads from `buffer`. The
// scanner may leave a short tail, which moves to the front of the buffer
// ahead of the next read.
template <class Scan>
fold_status feed(reader in, unsigned char* buffer, std::size_t read_size, Scan& scan) {
  read_size = std::clamp<std::size_t>(read_size, 1, default_read_size);
  std::size_t have = 0;
  for (;;) {
    ssize_t got = in.read(in.context, buffer + have, read_size);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fold_status::read_failed;
    }
    have += static_cast<std::size_t>(got);
    bool eof = got == 0;
    chunk_result r = scan(buffer, have, eof);
    if (r.ended || eof) return fold_status::ok;
    have -= r.consumed;
    std::memmove(buffer, buffer + r.consumed, have);
  }
}

// The buffer comes from the heap: on the caller's stack it would overflow
// small thread stacks and low `ulimit -s` settings. aligned_alloc rather than
// nothrow new, which in libstdc++ throws and catches inside, and so may
// terminate when memory is short. It is freed by hand, not by a destructor:
// that keeps exception handling, and with it libstdc++, out of the program
// (a combiner is not expected to throw; one that did would leak the buffer).
template <class Scan>
fold_status pump(reader in, std::size_t read_size, Scan scan) {
  constexpr std::size_t alignment = 64;
  constexpr std::size_t capacity = default_read_size + max_tail + 1;
  static_assert(capacity % alignment == 0, "aligned_alloc takes whole multiples of the alignment");
  auto* buffer = static_cast<unsigned char*>(std::aligned_alloc(alignment, capacity));
  if (buffer == nullptr) return fold_status::no_memory;
  fold_status s = feed(in, buffer, read_size, scan);
  std::free(buffer);
  return s;
}

ssize_t read_fd(void* context, unsigned char* buffer, std::size_t size) {
  return ::read(*static_cast<int*>(context), buffer, size);
}

}  // namespace

fold_result fold(reader in, combiner f, const fold_options& options) {
  const kernel& k = options.use != nullptr ? *options.use : best_kernel();
  // Our own add needs no calls: its kernels sum in vector lanes.
  if (f == add) {
    sum_carry c;
    fold_status s = pump(in, options.read_size, [&](const unsigned char* p, std::size_t n, bool eof) {
      return k.sum(c, p, n, eof);
    });
    return {s, s == fold_status::ok ? static_cast<int>(c.sum) : 0};
  }
  fold_carry c{.state = {}, .f = f};
  fold_status s = pump(in, options.read_size,
                       [&](const unsigned char* p, std::size_t n, bool eof) { return k.fold(c, p, n, eof); });
  return {s, s == fold_status::ok ? c.result : 0};
}

fold_result fold_file(const char* filename, combiner f, const fold_options& options) {
  int fd = ::open(filename, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {fold_status::open_failed, 0};
  // Only a hint for read-ahead; pipes refuse it, which is fine.
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  fold_result r = fold({read_fd, &fd}, f, options);
  ::close(fd);
  return r;
}

fold_result sequential_compute(const char* filename, combiner f) { return fold_file(filename, f, {}); }

int add(int a, int b) { return static_cast<int>(static_cast<unsigned>(a) + static_cast<unsigned>(b)); }

}  // namespace intsum
