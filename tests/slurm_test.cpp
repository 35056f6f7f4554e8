// quatdepth-slurm through the installed programs and a real one-node Slurm
// (slurmctld, slurmd and munged started here, on this host, and stopped by
// their process ids), and the repair of a run whose task died.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "run_program.h"

namespace quatdepth::testing {
namespace {

const std::string kRenderer = QUATDEPTH_PROGRAM;
// The build's copy sits beside quatdepth-parallel's.
const std::string kSlurmScript =
    std::string(QUATDEPTH_PARALLEL_SCRIPT).substr(0, std::string(QUATDEPTH_PARALLEL_SCRIPT).rfind('/')) +
    "/quatdepth-slurm";

// quatdepth's first 20 arguments for an 8 x 12 view: records of 36 bytes.
std::vector<std::string> smallView() {
  return {"-1.2", "-1.2", "-1.2", "1.2", "1.2", "1.2", "-0.1", "0.2", "0.3", "-0.1",
          "0",    "0.3",  "0.5",  "0.7", "8",   "12",  "20",   "5",   "10",  "16"};
}

std::vector<std::string> concat(std::vector<std::string> first,
                                const std::vector<std::string> &second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

bool exists(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// Polls `done` every 100 ms for at most `seconds`.
template <typename Check>
bool waitFor(double seconds, Check done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

// A daemon run in the foreground as our child, its output in `logPath`;
// stopped by its pid (SIGTERM, then SIGKILL) and reaped when destroyed.
class Daemon {
 public:
  Daemon(const std::vector<std::string> &arguments, const std::string &logPath,
         const std::vector<std::pair<std::string, std::string>> &environment) {
    std::vector<std::string> copies = arguments;
    std::vector<char *> argv;
    for (auto &argument : copies) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      const int in = open("/dev/null", O_RDONLY);
      const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (in < 0 || log < 0 || dup2(in, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0)
        _exit(127);
      for (const auto &[variable, value] : environment)
        setenv(variable.c_str(), value.c_str(), 1);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Daemon() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!waitFor(15, [this] { return waitpid(pid_, nullptr, WNOHANG) == pid_; })) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Daemon(const Daemon &) = delete;
  Daemon &operator=(const Daemon &) = delete;
  bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

// A one-node Slurm of our own in a temporary folder: munged with a fresh
// key, slurmctld and slurmd on free ports of 127.0.0.1, for this host.
class SlurmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *name : {"munged", "slurmctld", "slurmd", "sbatch", "sinfo", "squeue",
                             "scancel"}) {
      programs_[name] = findProgram(name);
      if (programs_[name].empty())
        GTEST_SKIP() << name << " is missing: install slurm-wlm and munge "
                     << "(scripts/install-deps cluster) to run the Slurm tests";
    }
    if (geteuid() != 0) GTEST_SKIP() << "the one-node Slurm here runs as root (SlurmUser=root)";
    ASSERT_FALSE(dir_.path().empty());
    bin_ = installPrograms(dir_.file("prefix"));
    ASSERT_NE(bin_, "") << "cmake --install failed";

    // A fresh key, readable by its owner only, as munged insists.
    std::string key(1024, '\0');
    std::ifstream("/dev/urandom", std::ios::binary).read(key.data(), static_cast<std::streamsize>(key.size()));
    writeFile(dir_.file("munge.key"), key);
    chmod(dir_.file("munge.key").c_str(), 0400);
    const std::string socket = dir_.file("munge.socket");
    munged_ = std::make_unique<Daemon>(
        std::vector<std::string>{programs_["munged"], "--foreground", "--force",
                                 "--socket=" + socket, "--key-file=" + dir_.file("munge.key"),
                                 "--pid-file=" + dir_.file("munged.pid"),
                                 "--log-file=" + dir_.file("munged.log"),
                                 "--seed-file=" + dir_.file("munged.seed")},
        dir_.file("munged.out"), std::vector<std::pair<std::string, std::string>>{});
    ASSERT_TRUE(waitFor(10, [&] { return exists(socket); }))
        << "munged did not start: " << readFile(dir_.file("munged.out"))
        << readFile(dir_.file("munged.log"));

    char name[256] = {};
    gethostname(name, sizeof name - 1);
    std::string host = name;
    host = host.substr(0, host.find('.'));
    mkdir(dir_.file("state").c_str(), 0755);
    mkdir(dir_.file("spool").c_str(), 0755);
    const std::string config = dir_.file("slurm.conf");
    writeFile(config,
              "ClusterName=quatdepthtest\n"
              "SlurmctldHost=" + host + "(127.0.0.1)\n"
              "SlurmUser=root\n"
              "AuthType=auth/munge\n"
              "AuthInfo=socket=" + socket + "\n"
              "CredType=cred/munge\n"
              "ProctrackType=proctrack/linuxproc\n"
              "TaskPlugin=task/none\n"
              "SelectType=select/cons_tres\n"
              "SlurmctldPort=" + std::to_string(freeLocalPort()) + "\n"
              "SlurmdPort=" + std::to_string(freeLocalPort()) + "\n"
              "StateSaveLocation=" + dir_.file("state") + "\n"
              "SlurmdSpoolDir=" + dir_.file("spool") + "\n"
              "SlurmctldPidFile=" + dir_.file("slurmctld.pid") + "\n"
              "SlurmdPidFile=" + dir_.file("slurmd.pid") + "\n"
              "SlurmctldLogFile=" + dir_.file("slurmctld.log") + "\n"
              "SlurmdLogFile=" + dir_.file("slurmd.log") + "\n"
              "JobAcctGatherType=jobacct_gather/none\n"
              "AccountingStorageType=accounting_storage/none\n"
              "MpiDefault=none\n"
              "ReturnToService=2\n"
              "SchedulerParameters=sched_interval=1\n"
              "NodeName=" + host + " NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN\n"
              "PartitionName=debug Nodes=ALL Default=YES MaxTime=INFINITE State=UP\n");
    environment_ = {{"SLURM_CONF", config}};
    slurmctld_ = std::make_unique<Daemon>(
        std::vector<std::string>{programs_["slurmctld"], "-D", "-f", config},
        dir_.file("slurmctld.out"), environment_);
    slurmd_ = std::make_unique<Daemon>(
        std::vector<std::string>{programs_["slurmd"], "-D", "-f", config},
        dir_.file("slurmd.out"), environment_);
    RunOptions slurm;
    slurm.environment = environment_;
    ASSERT_TRUE(waitFor(60, [&] {
      return runProgram(programs_["sinfo"], {"-h", "-o", "%T"}, slurm).out == "idle\n";
    })) << "the node never became idle\n"
        << readFile(dir_.file("slurmctld.out")) << readFile(dir_.file("slurmctld.log"))
        << readFile(dir_.file("slurmd.out")) << readFile(dir_.file("slurmd.log"));
  }

  void TearDown() override {
    // Jobs a failed check left behind end before their slurmd does.
    if (!slurmctld_ || !slurmctld_->running()) return;
    RunOptions slurm;
    slurm.environment = environment_;
    runProgram(programs_["scancel"], {"--user=root"}, slurm);
    waitFor(20, [&] { return runProgram(programs_["squeue"], {"-h"}, slurm).out.empty(); });
  }

  // quatdepth-slurm, installed, told where this Slurm is; Slurm's own job
  // logs go to the temporary folder.
  ProgramResult runSlurmScript(const std::vector<std::string> &arguments,
                               std::vector<std::pair<std::string, std::string>> extra = {}) {
    RunOptions options;
    options.environment = environment_;
    options.environment.insert(options.environment.end(), extra.begin(), extra.end());
    return runProgram(bin_ + "/quatdepth-slurm",
                      concat({"--wait", "-n", "4", "--sbatch",
                              "--output=" + dir_.file("slurm-%j.out") + " --time=5"},
                             arguments),
                      options);
  }

  std::string jobLogs() {
    return runProgram("/bin/sh", {"-c", "cat " + dir_.path() + "/slurm-*.out"}).out;
  }

  // The merged rows of one plain run of the renderer.
  std::string singleRun() {
    const std::string rows = dir_.file("single.rows");
    runProgram("/bin/sh", {"-c", shellCommand(kRenderer, smallView()) + " | " +
                                     shellCommand(bin_ + "/quatdepth-image",
                                                  {"--width", "8", "--height", "12", "--format",
                                                   "rows", "-o", rows})});
    return readFile(rows);
  }

  // Members are destroyed in reverse: the daemons stop before the folder goes.
  TemporaryDirectory dir_;
  std::string bin_;
  std::map<std::string, std::string> programs_;
  std::vector<std::pair<std::string, std::string>> environment_;
  std::unique_ptr<Daemon> munged_, slurmctld_, slurmd_;
};

TEST_F(SlurmTest, AnArrayOfFourTasksAndItsMergeWriteWhatOneRunDoesAndRemoveTheParts) {
  const std::string expected = singleRun();
  ASSERT_EQ(expected.size(), 12u * 36);
  const std::string out = dir_.file("julia.rows");
  const ProgramResult run = runSlurmScript(concat({"-o", out}, smallView()));
  ASSERT_EQ(run.exitStatus, 0) << run.out << run.err << jobLogs();
  // The job ids, the array's first, each at the start of its line.
  EXPECT_TRUE(std::regex_match(run.out, std::regex("[0-9]+ render [^\n]*\n[0-9]+ merge [^\n]*\n")))
      << run.out;
  EXPECT_TRUE(readFile(out) == expected) << "the merged rows differ from one plain run";
  const ProgramResult left = runProgram("/bin/sh", {"-c", "ls " + dir_.path()});
  EXPECT_EQ(left.out.find(".part-"), std::string::npos) << "part files remain:\n" << left.out;
}

TEST_F(SlurmTest, ATaskThatDiesFailsTheMergeKeepsItsWholeRecordsAndOnlyItsLostRowsAreRendered) {
  const std::string expected = singleRun();
  ASSERT_EQ(expected.size(), 12u * 36);
  // Task 1 (rows 1, 5, 9) writes one record and half the next, and dies.
  const std::string dying = dir_.file("dying-quatdepth");
  writeFile(dying, "#!/bin/sh\n"
                   "[ \"${21}\" = 1 ] || exec '" + kRenderer + "' \"$@\"\n"
                   "'" + kRenderer + "' \"$@\" | head -c 54\n"
                   "kill -9 $$\n");
  chmod(dying.c_str(), 0755);
  const std::string out = dir_.file("julia.png");
  const ProgramResult run = runSlurmScript(concat({"-o", out}, smallView()), {{"QUATDEPTH", dying}});
  EXPECT_NE(run.exitStatus, 0) << run.out << run.err << jobLogs();
  EXPECT_FALSE(exists(out));
  for (const char *part : {".part-0.rows", ".part-1.partial.rows", ".part-2.rows", ".part-3.rows"})
    EXPECT_TRUE(exists(out + part)) << part << " is gone";
  EXPECT_EQ(readFile(out + ".part-1.partial.rows").size(), 36u)
      << "the dead task's part is not cut back to its whole record";
  // The merge names the task to look into, not only the rows it lacks.
  EXPECT_NE(jobLogs().find("tasks that did not finish: 1;"), std::string::npos) << jobLogs();

  // The repair, as the help shows it: only the lost rows, then the merge.
  const std::string parts = "'" + out + "'.part-*.rows";
  const std::string size = " --width 8 --height 12 ";
  const ProgramResult missing =
      runProgram("/bin/sh", {"-c", bin_ + "/quatdepth-image --list-missing" + size + parts});
  EXPECT_EQ(missing.exitStatus, 0) << missing.err;
  EXPECT_EQ(missing.out, "5\n9\n");
  const ProgramResult repair = runProgram(
      "/bin/bash",
      {"-c", "set -o pipefail; " + bin_ + "/quatdepth-image --list-missing" + size + parts +
                 " | " + shellCommand(bin_ + "/quatdepth-parallel", concat({"--rows", "-"}, smallView())) +
                 " > '" + out + "'.part-repair.rows"});
  ASSERT_EQ(repair.exitStatus, 0) << repair.err;
  EXPECT_EQ(readFile(out + ".part-repair.rows").size(), 2u * 36) << "not only the lost rows";
  const ProgramResult merge =
      runProgram("/bin/sh", {"-c", bin_ + "/quatdepth-image --strict" + size + "-o '" +
                                       dir_.file("repaired.rows") + "' " + parts});
  ASSERT_EQ(merge.exitStatus, 0) << merge.err;
  EXPECT_TRUE(readFile(dir_.file("repaired.rows")) == expected)
      << "the repaired rows differ from one plain run";
}

// Slurm stops a task (scancel, or its time limit) with SIGTERM to every
// process of it, the task's own shell too: the shell must outlive the
// renderer to cut the part back and say what happened.
TEST_F(SlurmTest, ATaskStoppedBySlurmCutsItsPartBackToWholeRecordsAndSaysSo) {
  // Task 1 (rows 1, 5, 9) writes one record and a half, then cancels
  // itself and waits; were it never stopped, it would end well after 30 s.
  const std::string stopped = dir_.file("stopped-quatdepth");
  writeFile(stopped, "#!/bin/sh\n"
                     "[ \"${21}\" = 1 ] || exec '" + kRenderer + "' \"$@\"\n"
                     "'" + kRenderer + "' \"$@\" | head -c 54\n"
                     "scancel \"${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}\"\n"
                     "sleep 30\n");
  chmod(stopped.c_str(), 0755);
  const std::string out = dir_.file("julia.rows");
  const ProgramResult run = runSlurmScript(concat({"-o", out}, smallView()), {{"QUATDEPTH", stopped}});
  EXPECT_NE(run.exitStatus, 0) << run.out << run.err << jobLogs();
  EXPECT_FALSE(exists(out + ".part-1.rows"));
  EXPECT_EQ(readFile(out + ".part-1.partial.rows").size(), 36u)
      << "the stopped task's part is not cut back to its whole record";
  EXPECT_NE(jobLogs().find("task 1: the renderer failed (status 143)"), std::string::npos) << jobLogs();
}

// A renderer that refuses to run at task time (the check before submitting
// renders no row, so it may pass) writes its message, not rows: the part
// keeps the message whole for quatdepth-image to report, never a cut piece
// of it that would pass for records or for none.
TEST_F(SlurmTest, ARefusalAtTaskTimeIsKeptWholeNotCutAsIfItWereRows) {
  std::string refusing = "#!/bin/sh\ncase \"${21}\" in\n";
  // Task 1 (status 2): fineSteps 0.
  refusing += "  1) exec '" + kRenderer + "'";
  for (int k = 1; k <= 22; ++k) refusing += k == 18 ? " 0" : " \"${" + std::to_string(k) + "}\"";
  // Task 2 (status 1): rows two billion pixels wide, under a 200 MB cap.
  // Neither the address sanitizer nor qemu-user can start under such a
  // cap: there, task 2 is refused as task 1 is.
#if defined(__SANITIZE_ADDRESS__) || defined(QUATDEPTH_TESTS_UNDER_EMULATOR)
  const int allocationStatus = 2;
  refusing += " ;;\n  2) exec '" + kRenderer + "'";
  for (int k = 1; k <= 22; ++k) refusing += k == 18 ? " 0" : " \"${" + std::to_string(k) + "}\"";
#else
  const int allocationStatus = 1;
  refusing += " ;;\n  2) ulimit -v 200000; exec '" + kRenderer + "'";
  for (int k = 1; k <= 22; ++k)
    refusing += k == 15 ? " 2000000000" : " \"${" + std::to_string(k) + "}\"";
#endif
  refusing += " ;;\nesac\nexec '" + kRenderer + "' \"$@\"\n";
  const std::string renderer = dir_.file("refusing-quatdepth");
  writeFile(renderer, refusing);
  chmod(renderer.c_str(), 0755);
  // What each task's renderer writes, run here.
  std::map<int, std::pair<int, std::string>> refusals;
  for (int task : {1, 2}) {
    const ProgramResult here =
        runProgram(renderer, concat(smallView(), {std::to_string(task), "4"}));
    refusals[task] = {here.exitStatus, here.out};
  }
  ASSERT_EQ(refusals[1].first, 2);
  ASSERT_EQ(refusals[2].first, allocationStatus) << refusals[2].second;
  ASSERT_NE(refusals[1].second.find("fineSteps is 0"), std::string::npos) << refusals[1].second;
  if (allocationStatus == 1) {
    ASSERT_NE(refusals[2].second.find("Can't allocate memory"), std::string::npos);
  }

  const std::string out = dir_.file("julia.rows");
  const ProgramResult run = runSlurmScript(concat({"-o", out}, smallView()), {{"QUATDEPTH", renderer}});
  EXPECT_NE(run.exitStatus, 0) << run.out << run.err << jobLogs();
  const std::string logs = jobLogs();
  EXPECT_NE(logs.find("tasks that did not finish: 1 2;"), std::string::npos) << logs;
  for (int task : {1, 2}) {
    const std::string part = out + ".part-" + std::to_string(task);
    EXPECT_FALSE(exists(part + ".rows")) << "a refusal taken for rows";
    EXPECT_EQ(readFile(part + ".partial.rows"), refusals[task].second) << "task " << task;
    EXPECT_NE(logs.find("task " + std::to_string(task) + ": the renderer failed (status " +
                        std::to_string(refusals[task].first) + ")"),
              std::string::npos)
        << logs;
  }
  // The repair's first step names the refusal rather than listing rows.
  const ProgramResult listing =
      runProgram("/bin/sh", {"-c", bin_ + "/quatdepth-image --list-missing --width 8 --height 12 '" +
                                       out + "'.part-*.rows"});
  EXPECT_NE(listing.exitStatus, 0) << listing.out;
  EXPECT_NE(listing.err.find("fineSteps is 0"), std::string::npos) << listing.err;
}

// Every task succeeds, yet the merge fails: the run fails, and the parts
// and the image of an earlier run are left as they were.
TEST_F(SlurmTest, AMergeThatFailsFailsTheRunAndDeletesNothing) {
  // Task 1 (rows 1, 5, 9) ends well having written one record and a half:
  // its part is there, but cut short, so quatdepth-image --strict fails.
  const std::string cutShort = dir_.file("cut-short-quatdepth");
  writeFile(cutShort, "#!/bin/sh\n"
                      "[ \"${21}\" = 1 ] || exec '" + kRenderer + "' \"$@\"\n"
                      "'" + kRenderer + "' \"$@\" | head -c 54\n");
  chmod(cutShort.c_str(), 0755);
  const std::string out = dir_.file("julia.rows");
  writeFile(out, "the image of an earlier run");
  const ProgramResult run =
      runSlurmScript(concat({"-o", out}, smallView()), {{"QUATDEPTH", cutShort}});
  EXPECT_NE(run.exitStatus, 0) << run.out << run.err << jobLogs();
  EXPECT_NE(run.err.find("merge did not succeed"), std::string::npos) << run.err;
  EXPECT_EQ(readFile(out), "the image of an earlier run");
  for (const char *part : {".part-0.rows", ".part-1.rows", ".part-2.rows", ".part-3.rows"})
    EXPECT_TRUE(exists(out + part)) << part << " is gone";
  EXPECT_EQ(readFile(out + ".part-1.rows").size(), 54u);
}

// sbatch --wait reports a merge cancelled before it ran as a success.
TEST_F(SlurmTest, AMergeThatNeverRanFailsTheRun) {
  RunOptions slurm;
  slurm.environment = environment_;
  const std::string waitForMerge =
      "for i in $(seq 200); do [ -n \"$(" + programs_["squeue"] +
      " -h -n quatdepth-merge)\" ] && break; sleep 0.1; done; ";

  // The user cancels the run while the array still waits to start, so no
  // part has been written.
  const std::string out = dir_.file("julia.rows");
  ProgramResult run = runProgram(
      "/bin/bash",
      {"-c", shellCommand(bin_ + "/quatdepth-slurm",
                          concat({"--wait", "-n", "4", "--sbatch",
                                  "--output=" + dir_.file("slurm-%j.out") +
                                      " --time=5 --begin=now+600",
                                  "-o", out},
                                 smallView())) +
                 " & script=$!; " + waitForMerge + programs_["scancel"] +
                 " --user=root; wait $script"},
      slurm);
  EXPECT_NE(run.exitStatus, 0) << run.out << run.err;
  EXPECT_NE(run.err.find("merge did not succeed"), std::string::npos) << run.err;
  EXPECT_FALSE(exists(out));

  // Task 0 cancels the merge, and Slurm has forgotten the merge by the
  // time it is asked (as it does once MinJobAge has passed): the parts
  // left behind tell, under a name the shell would read as a pattern too.
  mkdir(dir_.file("forgetful").c_str(), 0755);
  writeFile(dir_.file("forgetful/scontrol"),
            "#!/bin/sh\necho 'slurm_load_jobs error: Invalid job id specified' >&2\nexit 1\n");
  chmod(dir_.file("forgetful/scontrol").c_str(), 0755);
  const std::string cancelling = dir_.file("cancelling-quatdepth");
  writeFile(cancelling, "#!/bin/sh\n"
                        "if [ \"${21}\" = 0 ]; then\n  " + waitForMerge + "\n"
                        "  scancel --name=quatdepth-merge\n"
                        "fi\n"
                        "exec '" + kRenderer + "' \"$@\"\n");
  chmod(cancelling.c_str(), 0755);
  const std::string pattern = dir_.file("julia[2].rows");
  run = runSlurmScript(concat({"-o", pattern}, smallView()),
                       {{"QUATDEPTH", cancelling},
                        {"PATH", dir_.file("forgetful") + ":" + (getenv("PATH") ? getenv("PATH") : "")}});
  EXPECT_NE(run.exitStatus, 0) << run.out << run.err << jobLogs();
  EXPECT_NE(run.err.find("merge did not succeed"), std::string::npos) << run.err;
  EXPECT_FALSE(exists(pattern));
}

// Mistakes are found before anything is submitted: an sbatch that only
// records its call comes first on the PATH.
TEST(SlurmScript, HelpAndMistakesNeedNoClusterAndSubmitNothing) {
  TemporaryDirectory dir;
  writeFile(dir.file("sbatch"), "#!/bin/sh\necho called >> '" + dir.file("sbatch.log") +
                                    "'\necho 1\n");
  chmod(dir.file("sbatch").c_str(), 0755);
  RunOptions options;
  options.environment = {{"PATH", dir.path() + ":" + (getenv("PATH") ? getenv("PATH") : "")}};
  for (const char *option : {"-h", "--help"}) {
    const ProgramResult help = runProgram(kSlurmScript, {option}, options);
    EXPECT_EQ(help.exitStatus, 0) << option;
    EXPECT_NE(help.out.find("quatdepth-slurm [-n TASKS]"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--list-missing"), std::string::npos) << "no repair recipe";
  }
  std::vector<std::string> badView = smallView();
  badView[17] = "0";  // fineSteps, which quatdepth refuses
  std::vector<std::string> oddSize = smallView();
  oddSize[14] = "8.0";
  const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
      {{"-x", "-o", dir.file("a.png")}, "unknown option -x"},
      {{}, "give -o OUT"},
      {{"-o", "-"}, "-o -"},
      {{"-n", "0", "-o", dir.file("a.png")}, "-n must be"},
      {{"-n", "99999999999999999999", "-o", dir.file("a.png")}, "-n must be"},
      {{"-o", dir.file("a.png"), "1", "2", "3"}, "first 20 arguments"},
      {concat({"-o", dir.file("a.png")}, oddSize), "plain whole numbers"},
      {concat({"-o", dir.file("a.png")}, badView), "fineSteps is 0"},
      {{"-o", dir.file("a.jpeg")}, "cannot tell the format"},
      {{"-o", dir.file("no-folder/a.png")}, "no-folder"},
      // A folder exists, yet the output cannot be written there.
      {{"-o", dir.file("folder.png")}, "Is a directory"},
  };
  mkdir(dir.file("folder.png").c_str(), 0755);
  for (const auto &[arguments, message] : mistakes) {
    const ProgramResult run = runProgram(kSlurmScript, arguments, options);
    EXPECT_EQ(run.exitStatus, 2) << message << ": " << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  // The parts of an earlier run are neither overwritten nor taken for new.
  writeFile(dir.file("a.png.part-2.partial.rows"), "");
  const ProgramResult inTheWay = runProgram(kSlurmScript, {"-o", dir.file("a.png")}, options);
  EXPECT_NE(inTheWay.exitStatus, 0);
  EXPECT_NE(inTheWay.err.find("earlier run"), std::string::npos) << inTheWay.err;
  EXPECT_FALSE(exists(dir.file("sbatch.log"))) << "submitted despite a mistake";
  EXPECT_FALSE(exists(dir.file("a.png")));
}

}  // namespace
}  // namespace quatdepth::testing
