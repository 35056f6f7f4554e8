// quatdepth-parallel over ssh, for real: the test starts an sshd of its own
// on 127.0.0.1 with throwaway keys, reached under two host names, and runs
// the installed programs through it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <thread>
#include <vector>

#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kRenderer = QUATDEPTH_PROGRAM;
const std::string kSshd = "/usr/sbin/sshd";

bool accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool connected = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// An sshd in the foreground, stopped by its pid however the test ends.
class SshServer {
 public:
  SshServer(const std::string &config, const std::string &log) {
    pid_ = fork();
    if (pid_ == 0) {
      const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 1);
      dup2(fd, 2);
      execl(kSshd.c_str(), kSshd.c_str(), "-D", "-e", "-f", config.c_str(), nullptr);
      _exit(127);
    }
  }
  ~SshServer() { stop(); }
  SshServer(const SshServer &) = delete;
  SshServer &operator=(const SshServer &) = delete;

  bool running() {
    return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
  }
  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// Throwaway keys, an sshd_config and an ssh_config in one folder: hosts
// alpha and beta lead to the sshd, gamma to a port nothing listens on.
struct SshSetup {
  TemporaryDirectory dir;
  int port = -1;
  std::string bin;     // the programs installed here, that the test runs
  std::string remoteBin;  // another install, on the ssh session's PATH
  std::string config;  // ssh_config for ssh -F
  std::string problem;

  SshSetup() {
    bin = installPrograms(dir.file("here"));
    remoteBin = installPrograms(dir.file("remote"));
    if (bin.empty() || remoteBin.empty()) { problem = "cmake --install failed"; return; }
    for (const char *key : {"host_key", "user_key"}) {
      ProgramResult made =
          runProgram("/usr/bin/ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", dir.file(key)});
      if (made.exitStatus != 0) { problem = "ssh-keygen failed: " + made.err; return; }
    }
    writeFile(dir.file("authorized_keys"), readFile(dir.file("user_key.pub")));
    port = freeLocalPort();
    const int closedPort = freeLocalPort();
    writeFile(dir.file("sshd_config"),
              "ListenAddress 127.0.0.1:" + std::to_string(port) + "\n"
              "HostKey " + dir.file("host_key") + "\n"
              "AuthorizedKeysFile " + dir.file("authorized_keys") + "\n"
              "PidFile " + dir.file("sshd.pid") + "\n"
              "StrictModes no\nUsePAM no\nPermitRootLogin prohibit-password\n"
              "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
              "SetEnv PATH=" + remoteBin + ":/usr/bin:/bin\n");
    std::string hosts;
    for (const char *name : {"alpha", "beta"})
      hosts += std::string("Host ") + name + "\n  HostName 127.0.0.1\n  Port " + std::to_string(port) + "\n";
    hosts += "Host gamma\n  HostName 127.0.0.1\n  Port " + std::to_string(closedPort) + "\n";
    config = dir.file("ssh_config");
    writeFile(config, hosts +
                          "Host *\n  IdentityFile " + dir.file("user_key") + "\n"
                          "  IdentitiesOnly yes\n  BatchMode yes\n  ConnectTimeout 10\n"
                          "  UserKnownHostsFile /dev/null\n  StrictHostKeyChecking no\n"
                          "  LogLevel ERROR\n");
  }
};

// Runs the installed quatdepth-parallel with ssh through the test's config,
// from a folder that holds no quatdepth, with no quatdepth on the PATH.
ProgramResult runOverSsh(const SshSetup &setup, const std::vector<std::string> &arguments) {
  RunOptions options;
  options.environment = {{"PARALLEL_SSH", "ssh -F " + setup.config},
                         {"PATH", "/usr/bin:/bin"},
                         {"HOME", setup.dir.path()}};
  return runProgram(setup.bin + "/quatdepth-parallel", arguments, options);
}

// The image's rows in their canonical order, from record files.
std::string canonicalRows(const SshSetup &setup, const std::vector<std::string> &files,
                          const std::string &width, const std::string &height) {
  std::vector<std::string> arguments = {"--width", width, "--height", height, "--strict",
                                        "--format", "rows", "-o", "-"};
  arguments.insert(arguments.end(), files.begin(), files.end());
  ProgramResult merged = runProgram(setup.bin + "/quatdepth-image", arguments);
  EXPECT_EQ(merged.exitStatus, 0) << merged.err;
  return merged.out;
}

TEST(OverSsh, TwoHostsMergeToOnePlainRunAndALostHostFailsTheRun) {
  if (access(kSshd.c_str(), X_OK) != 0 || findProgram("ssh").empty() ||
      access("/usr/bin/ssh-keygen", X_OK) != 0)
    GTEST_SKIP() << "needs /usr/sbin/sshd, ssh and ssh-keygen (scripts/install-deps cluster)";
  SshSetup setup;
  ASSERT_EQ(setup.problem, "");
  ASSERT_GT(setup.port, 0);
  // sshd started as root wants its empty privilege separation folder,
  // which the package's own service would have made.
  if (geteuid() == 0) mkdir("/run/sshd", 0755);

  SshServer server(setup.dir.file("sshd_config"), setup.dir.file("sshd.log"));
  for (int tries = 0; tries < 100 && server.running() && !accepts(setup.port); ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(accepts(setup.port)) << readFile(setup.dir.file("sshd.log"));

  const std::vector<std::string> view = {"-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1",
                                         "0.2",  "0.3",  "-0.1", "0",   "0.3", "0.5", "0.7",
                                         "64",   "48",   "40",   "5",   "10",  "16"};
  const std::string plain = setup.dir.file("plain.rows");
  RunOptions toFile;
  toFile.stdoutPath = plain;
  ASSERT_EQ(runProgram(kRenderer, view, toFile).exitStatus, 0);
  const std::string expected = canonicalRows(setup, {plain}, "64", "48");
  ASSERT_EQ(expected.size(), 48u * 4 * 65);

  // Locally the installed quatdepth-parallel runs the quatdepth beside it
  // (none is on the PATH).
  ProgramResult local = runOverSsh(setup, view);
  ASSERT_EQ(local.exitStatus, 0) << local.err;
  writeFile(setup.dir.file("local.rows"), local.out);
  EXPECT_TRUE(canonicalRows(setup, {setup.dir.file("local.rows")}, "64", "48") == expected);
  // Parameters the renderer refuses are refused here, with its reason, and
  // no host is asked (gamma, which cannot be reached, is never tried).
  std::vector<std::string> refused = {"-S", "gamma"};
  refused.insert(refused.end(), view.begin(), view.end());
  refused[2 + 17] = "0";  // fineSteps
  ProgramResult refusal = runOverSsh(setup, refused);
  EXPECT_EQ(refusal.exitStatus, 2) << refusal.err;
  EXPECT_NE(refusal.err.find("fineSteps is 0"), std::string::npos) << refusal.err;
  EXPECT_EQ(refusal.err.find("onnection refused"), std::string::npos) << refusal.err;

  // From here on the quatdepth beside it fails, so that only the one on
  // the ssh session's PATH can render.
  writeFile(setup.bin + "/quatdepth", "#!/bin/sh\necho the local renderer ran >&2\nexit 1\n");

  // Two hosts, two jobs on each: sixteen slices.
  std::vector<std::string> arguments = {"-j", "2", "-S", "alpha,beta"};
  arguments.insert(arguments.end(), view.begin(), view.end());
  ProgramResult run = runOverSsh(setup, arguments);
  ASSERT_EQ(run.exitStatus, 0) << run.err << readFile(setup.dir.file("sshd.log"));
  writeFile(setup.dir.file("ssh.rows"), run.out);
  EXPECT_TRUE(canonicalRows(setup, {setup.dir.file("ssh.rows")}, "64", "48") == expected);

  // Resuming over ssh: the rows of one lost slice, from a list.
  writeFile(setup.dir.file("missing"), "5\n13\n21\n29\n37\n45\n");
  arguments = {"-j", "1", "-S", "alpha", "--rows", setup.dir.file("missing")};
  arguments.insert(arguments.end(), view.begin(), view.end());
  run = runOverSsh(setup, arguments);
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out.size(), 6u * 4 * 65);

  // A renderer that fails out there fails the run here: one slice's.
  const std::string remote = setup.remoteBin + "/quatdepth";
  ASSERT_EQ(std::rename(remote.c_str(), (remote + "-real").c_str()), 0);
  writeFile(remote, "#!/bin/sh\n"
                    "[ \"${21}\" = 5 ] && { echo row 5 failed out there >&2; exit 3; }\n"
                    "exec '" + remote + "-real' \"$@\"\n");
  chmod(remote.c_str(), 0755);
  arguments = {"-j", "2", "-S", "alpha,beta"};
  arguments.insert(arguments.end(), view.begin(), view.end());
  run = runOverSsh(setup, arguments);
  EXPECT_NE(run.exitStatus, 0) << run.err;
  EXPECT_NE(run.err.find("row 5 failed out there"), std::string::npos) << run.err;
  ASSERT_EQ(std::rename((remote + "-real").c_str(), remote.c_str()), 0);

  // A host that cannot be reached fails the run, with ssh's reason.
  arguments = {"-j", "2", "-S", "alpha,gamma"};
  arguments.insert(arguments.end(), view.begin(), view.end());
  run = runOverSsh(setup, arguments);
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_NE(run.err.find("onnection refused"), std::string::npos) << run.err;

  // And so does a host whose sshd has gone.
  server.stop();
  arguments = {"-j", "2", "-S", "alpha,beta"};
  arguments.insert(arguments.end(), view.begin(), view.end());
  run = runOverSsh(setup, arguments);
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace quatdepth::testing
