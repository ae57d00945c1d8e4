// The program as its users run it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support.h"

namespace {

struct run_result {
  std::string out;
  int status;
};

struct run_setup {
  std::string stdin_path = "/dev/null";
  std::string stdout_path;  // empty: capture through a pipe
  std::string cwd;
  std::string program;     // what is started instead of intsum (as it is, never emulated)
  bool as_nobody = false;  // when root, run with the user and group ids of nobody
};

// setpriv, from util-linux, which every Debian system has.
constexpr const char* setpriv = "/usr/bin/setpriv";

// Runs intsum with exactly the argument vector given, argv[0] included. In a
// cross build it runs under the emulator, which sets argv[0] for it; there an
// empty vector arrives as one empty name, as Linux 5.18 and later make it.
run_result run_argv(std::vector<std::string> args, const run_setup& setup = {}) {
  std::vector<std::string> emulator = {INTSUM_EMULATOR};
  std::string program = setup.program.empty() ? INTSUM_BINARY : setup.program;
  if (!emulator.empty() && setup.program.empty()) {
    std::vector<std::string> direct = std::move(args);
    args = emulator;
    args.insert(args.end(), {"-0", direct.empty() ? "" : direct[0], program});
    if (!direct.empty()) args.insert(args.end(), direct.begin() + 1, direct.end());
    program = emulator[0];
  }
  if (setup.as_nobody && geteuid() == 0) {
    // setpriv starts the program with its path as argv[0].
    args[0] = program;
    args.insert(args.begin(), {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    program = setpriv;
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipefd[2];
  EXPECT_EQ(pipe(pipefd), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, setup.stdin_path.c_str(), O_RDONLY, 0);
  if (setup.stdout_path.empty())
    posix_spawn_file_actions_adddup2(&actions, pipefd[1], 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, setup.stdout_path.c_str(), O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, pipefd[0]);
  posix_spawn_file_actions_addclose(&actions, pipefd[1]);
  if (!setup.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, setup.cwd.c_str());

  pid_t pid;
  int err = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipefd[1]);
  EXPECT_EQ(err, 0);

  run_result r{"", -1};
  char buf[4096];
  ssize_t n;
  while ((n = read(pipefd[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<std::size_t>(n));
  close(pipefd[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

// Runs intsum on `path` from a shell that first runs `limit` (a ulimit command).
run_result run_limited(const std::string& limit, const std::string& path) {
  std::vector<std::string> args = {"sh", "-c", limit + " && exec \"$@\"", "sh", INTSUM_EMULATOR};
  args.insert(args.end(), {INTSUM_BINARY, path});
  run_setup via_shell;
  via_shell.program = "/bin/sh";
  return run_argv(std::move(args), via_shell);
}

run_result run(std::vector<std::string> args, const run_setup& setup = {}) {
  args.insert(args.begin(), "intsum");
  return run_argv(std::move(args), setup);
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/intsum-cli-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string file(const std::string& name, const std::string& contents) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }

  std::string dir_;
};

TEST_F(Cli, UsageWithoutArgument) {
  EXPECT_EQ(run_argv({"./prog"}).out, "Usage: ./prog <filename>\n");
  EXPECT_EQ(run_argv({"./prog"}).status, 1);
  // An empty argument vector has no name to show.
  run_result r = run_argv({});
  EXPECT_EQ(r.out, "Usage: intsum <filename>\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(Cli, Results) {
  struct {
    const char* contents;
    const char* out;
  } cases[] = {
      {"3, 4, 5\n", "Result: 12\n"},
      {"-3", "Result: -3\n"},
      {"", "Result: 0\n"},
      {"2147483647, 1", "Result: -2147483648\n"},
  };
  for (const auto& c : cases) {
    run_result r = run({file("in.txt", c.contents)});
    EXPECT_EQ(r.out, c.out) << c.contents;
    EXPECT_EQ(r.status, 0);
  }
}

TEST_F(Cli, ShippedExamples) {
  struct {
    const char* file;
    const char* out;
  } cases[] = {
      {"numbers.txt", "Result: 4950\n"},
      {"separators.txt", "Result: 174\n"},
      {"ends-early.txt", "Result: 6\n"},
  };
  for (const auto& c : cases) {
    run_result r = run({std::string(INTSUM_EXAMPLES) + "/" + c.file});
    EXPECT_EQ(r.out, c.out) << c.file;
    EXPECT_EQ(r.status, 0);
  }
}

TEST_F(Cli, SmallStackLimit) {
  // The read buffer does not live on the stack, so a small one is plenty.
  const std::string limit = "ulimit -s " + std::to_string(intsum::testing::small_stack_kib);
  run_result r = run_limited(limit, std::string(INTSUM_EXAMPLES) + "/numbers.txt");
  EXPECT_EQ(r.out, "Result: 4950\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Cli, NoMemoryForTheBuffer) {
  // Under an address-space limit (in KiB) just too small for the read buffer,
  // intsum fails cleanly. The least limit that gives a result is found by
  // bisection; where none does (sanitizers and emulators reserve far more),
  // there is nothing to try.
  auto run_in = [](long kib) {
    return run_limited("ulimit -v " + std::to_string(kib), std::string(INTSUM_EXAMPLES) + "/numbers.txt");
  };
  if (!std::vector<std::string>{INTSUM_EMULATOR}.empty())
    GTEST_SKIP() << "under an emulator the limit measures the emulator's memory, not intsum's";
  long low = 1024, high = 1024 * 1024;
  if (run_in(high).out != "Result: 4950\n") GTEST_SKIP() << "does not run under a 1 GiB limit";
  while (high - low > 4) {
    long mid = (low + high) / 2;
    (run_in(mid).out == "Result: 4950\n" ? high : low) = mid;
  }
  run_result r = run_in(high - 64);
  EXPECT_EQ(r.out, "Error: Out of memory\n");
  EXPECT_EQ(r.status, 1);
}

TEST_F(Cli, OnlyTheFirstArgumentCounts) {
  std::string a = file("a.txt", "1 2"), b = file("b.txt", "100");
  run_result r = run({a, b, "/nonexistent"});
  EXPECT_EQ(r.out, "Result: 3\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Cli, ArgumentsStartingWithDashArePaths) {
  file("-", "1 2");
  file("--help", "40 2");
  file("-5", "5");
  for (auto [arg, out] : {std::pair{"-", "Result: 3\n"}, {"--help", "Result: 42\n"}, {"-5", "Result: 5\n"}}) {
    run_setup in_dir;
    in_dir.cwd = dir_;
    run_result r = run({arg}, in_dir);
    EXPECT_EQ(r.out, out) << arg;
    EXPECT_EQ(r.status, 0);
  }
}

TEST_F(Cli, Failures) {
  struct {
    std::string path;
    const char* out;
  } cases[] = {
      {dir_ + "/missing.txt", "Error: File not found\n"},
      {"", "Error: File not found\n"},
      {dir_, "Error: Cannot read file\n"},
      {"/proc/self/mem", "Error: Cannot read file\n"},  // reading offset 0 fails with EIO
  };
  for (const auto& c : cases) {
    run_result r = run({c.path});
    EXPECT_EQ(r.out, c.out) << c.path;
    EXPECT_EQ(r.status, 1) << c.path;
  }
}

TEST_F(Cli, UnreadableFile) {
  // Root reads any file, so as root the program runs as nobody.
  if (geteuid() == 0) {
    ASSERT_EQ(access(setpriv, X_OK), 0) << setpriv << " is needed to drop root's privileges";
  }
  ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
  const std::string secret = file("secret.txt", "1"), open = file("open.txt", "2");
  ASSERT_EQ(chmod(secret.c_str(), 0), 0);
  run_setup unprivileged;
  unprivileged.as_nobody = true;
  EXPECT_EQ(run({secret}, unprivileged).out, "Error: File not found\n");
  EXPECT_EQ(run({open}, unprivileged).out, "Result: 2\n");  // the same user reads what it may
}

TEST_F(Cli, ReadsFromAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string data = "10 20\n30,\n";
  ASSERT_EQ(write(fds[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
  close(fds[1]);
  run_setup from_pipe;
  from_pipe.stdin_path = "/proc/self/fd/" + std::to_string(fds[0]);
  run_result r = run({"/dev/stdin"}, from_pipe);
  close(fds[0]);
  EXPECT_EQ(r.out, "Result: 60\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(Cli, UnwritableOutputFails) {
  run_setup to_full;
  to_full.stdout_path = "/dev/full";
  EXPECT_EQ(run({file("in.txt", "1 2")}, to_full).status, 1);
}

}  // namespace
