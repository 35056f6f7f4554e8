// quatdepth-explore against clients that misbehave: queries that could be
// read two ways, methods and headers it does not take, other sites, views
// too large to render, renders nobody waits for, and many connections at
// once. Every server here listens on 127.0.0.1 only.
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "explore/host_check.h"
#include "explore/request_target.h"
#include "explore/supersession.h"
#include "running_explorer.h"

namespace quatdepth::testing {
namespace {

using Clock = std::chrono::steady_clock;

// A pixel inside the set, in a Siegel disk, whose orbit never escapes nor
// settles: at coarse=1&fine=1 it takes two probes of `iterations` passes,
// about 20 s at a cap of a billion on one core.
std::string longPixel(const std::string &iterations, const std::string &size = "1x1") {
  return "size=" + size +
         "&coarse=1&fine=1&box=-0.40,-0.3378,-0.01,-0.34,-0.30,0.01"
         "&c=-0.390540870218399,-0.586787907346969,0,0&iterations=" +
         iterations;
}

std::string bodyOf(const std::string &answer) {
  const size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? "" : answer.substr(end + 4);
}

std::string headerOf(const std::string &answer, const std::string &name) {
  const std::string head = answer.substr(0, answer.find("\r\n\r\n"));
  const size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  const size_t start = at + name.size() + 4;
  return head.substr(start, head.find("\r\n", start) - start);
}

// The processes the server started that are still there (its renders).
std::vector<std::string> childrenOf(pid_t pid) {
  std::vector<std::string> children;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR *folder = opendir(tasks.c_str());
  if (!folder) return children;
  while (const dirent *task = readdir(folder)) {
    if (task->d_name[0] == '.') continue;
    std::istringstream list(readFile(tasks + "/" + task->d_name + "/children"));
    for (std::string child; list >> child;) children.push_back(child);
  }
  closedir(folder);
  return children;
}

// Waits up to `seconds` for the server to have no render process left.
bool rendersEndWithin(pid_t pid, double seconds) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < deadline) {
    if (childrenOf(pid).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return childrenOf(pid).empty();
}

bool rendersStartWithin(pid_t pid, double seconds) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < deadline) {
    if (!childrenOf(pid).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// CPU seconds the process itself has used.
double cpuSeconds(pid_t pid) {
  const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long residentKiB(pid_t pid) {
  std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

TEST(RequestTarget, DecodesAndRefusesWhatCouldBeReadTwoWays) {
  RequestTarget target;
  ASSERT_FALSE(parseRequestTarget("/image.png?c=-0.1%2C0.2,0,0&&w=1e%2B3&look=a+b&size", &target));
  EXPECT_EQ(target.path, "/image.png");
  EXPECT_EQ(target.query.find("c")->second, "-0.1,0.2,0,0");
  EXPECT_EQ(target.query.find("w")->second, "1e+3");
  EXPECT_EQ(target.query.find("look")->second, "a b");
  EXPECT_EQ(target.query.find("size")->second, "");
  EXPECT_EQ(target.query.size(), 4u) << "an empty pair is skipped";
  const struct {
    const char *target;
    const char *said;
  } refused[] = {{"/args?w=0.5=0.25", "the value of 'w' holds '='"},
                 {"/args?iterations==20", "the value of 'iterations' holds '='"},
                 {"/args?=1", "a value without its key"},
                 {"/args?w=%2", "malformed"},
                 {"/args?w=%zz", "malformed"},
                 {"/args?w=0%00", "malformed"},
                 {"/args?w%0a=1", "malformed"},
                 {"/a%1b[2J", "'/a%1b[2J'"}};
  for (const auto &r : refused) {
    const std::optional<std::string> refusal = parseRequestTarget(r.target, &target);
    ASSERT_TRUE(refusal) << r.target;
    EXPECT_NE(refusal->find(r.said), std::string::npos) << *refusal;
    for (const char c : *refusal) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << *refusal;
  }
}

TEST(HostCheck, AnIpv4AddressWrittenAsIpv6IsThatAddress) {
  EXPECT_EQ(plainListenAddress("::ffff:0.0.0.0"), "0.0.0.0");
  EXPECT_EQ(plainListenAddress("::FFFF:127.0.0.2"), "127.0.0.2");
  EXPECT_EQ(plainListenAddress("::1"), "::1");
  EXPECT_EQ(plainListenAddress("127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(addressWithPort("0.0.0.0", 80), "0.0.0.0:80");
  EXPECT_EQ(addressWithPort("::", 80), "[::]:80");
}

TEST(Supersession, APageWithARenderRunningIsKeptPastTheLimitOfPages) {
  Supersession renders;
  const Supersession::StopFlag running = renders.begin("dragging", 1);
  ASSERT_TRUE(running);
  // Far more pages than are kept, each done at once.
  for (int i = 0; i < 3000; ++i) {
    const std::string page = "other" + std::to_string(i);
    ASSERT_TRUE(renders.begin(page, 0));
    renders.end(page, 0);
  }
  EXPECT_FALSE(running->load());
  ASSERT_TRUE(renders.begin("dragging", 2));
  EXPECT_TRUE(running->load()) << "the newer request no longer stops the older render";
}

TEST(ExplorerRefusals, QueriesPagesMethodsAndHeaders) {
  RunningExplorer explorer;
  const int port = explorer.port();
  ASSERT_GT(port, 0);
  const struct {
    std::string target;
    int status;
    std::string said;
  } queries[] = {
      {"/args?w=0.25", 200, ""},
      {"/args?w=0.5=0.25", 400, "'w'"},
      {"/args?angles=0.3,0.5,0.7=0,0,1", 400, "'angles'"},
      {"/args?iterations==20", 400, "'iterations'"},
      {"/args?=1", 400, "without its key"},
      // Page ids of up to 64 characters, and whole sequence numbers.
      {"/rows?size=2x2&seq=0&page=" + std::string(64, 'a'), 200, ""},
      {"/rows?size=2x2&seq=0&page=" + std::string(65, 'a'), 400, "1 to 64"},
      {"/rows?size=2x2&page=p&seq=1x", 400, "seq"},
      {"/rows?size=2x2&page=p&seq=-1", 400, "seq"},
      {"/rows?size=2x2&page=p&seq=18446744073709551616", 400, "seq"},
      {"/rows?size=2x2&page=p", 400, "together"},
      {"/rows?size=2x2&page=a%2Fb&seq=0", 400, "1 to 64"},
      // Unknown paths and keys are quoted with their control bytes escaped.
      {"/%FF%FE", 404, "not found: /\\xFF\\xFE"},
      {"/args?%C3%A9t%C3%A9=1", 400, "\\xC3\\xA9t\\xC3\\xA9"},
      // A value the option parser quotes as it is, C1 control and all.
      {"/args?occlusion=%FF%C2%9B31m", 400, "\\xFF\\xC2\\x9B31m"}};
  for (const auto &q : queries) {
    const std::string answer = get(port, q.target);
    EXPECT_EQ(statusOf(answer), q.status) << q.target << "\n" << answer;
    const std::string body = bodyOf(answer);
    EXPECT_NE(body.find(q.said), std::string::npos) << q.target << ": " << body;
    for (size_t i = 0; i + 1 < body.size() && q.status != 200; ++i)
      EXPECT_TRUE(body[i] >= 0x20 && body[i] < 0x7F) << q.target << ": a raw byte in " << body;
  }
  // Every method but GET and HEAD, known to HTTP or not.
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  for (const std::string &line : std::vector<std::string>{
           "TRACE / HTTP/1.1", "CONNECT 127.0.0.1:" + std::to_string(port) + " HTTP/1.1",
        "OPTIONS * HTTP/1.1", "DELETE /rows HTTP/1.1", "BREW /image.png HTTP/1.1"}) {
    const std::string answer = roundTrip(port, line + "\r\n" + host + "\r\n");
    EXPECT_EQ(statusOf(answer), 405) << line << "\n" << answer;
    EXPECT_EQ(headerOf(answer, "Allow"), "GET, HEAD") << line;
  }
  // A GET with a body would leave the body to be read as the next request.
  const std::string withBody =
      roundTrip(port, "GET /args HTTP/1.1\r\n" + host + "Content-Length: 3\r\n\r\nabc");
  EXPECT_EQ(statusOf(withBody), 400) << withBody;
  const std::string encoded = roundTrip(
      port, "GET /args HTTP/1.1\r\n" + host + "Transfer-Encoding: gzip\r\n\r\nGET /x HTTP/1.1\r\n" +
                host + "\r\n");
  EXPECT_EQ(statusOf(encoded), 400) << encoded;
  EXPECT_EQ(encoded.find("404"), std::string::npos) << "a body was read as a request";

  // Headers: too many fields, or too many bytes, get 431 and cost nothing.
  std::string many;
  for (int i = 0; i < 65; ++i) many += "X-Field-" + std::to_string(i) + ": 1\r\n";
  EXPECT_EQ(statusOf(get(port, "/args", many)), 431);
  std::string fewer;
  for (int i = 0; i < 60; ++i) fewer += "X-Field-" + std::to_string(i) + ": 1\r\n";
  EXPECT_EQ(statusOf(get(port, "/args", fewer)), 200) << "60 fields are fine";
  EXPECT_EQ(statusOf(get(port, "/args", "X-Large: " + std::string(17000, 'a') + "\r\n")), 431);
  const std::string endless = "GET /args HTTP/1.1\r\n" + host;
  RawConnection flood(port);
  flood.send(endless);
  for (int i = 0; i < 200 && flood.send("X-" + std::to_string(i) + ": " + std::string(1000, 'b') + "\r\n"); ++i) {
  }
  EXPECT_EQ(statusOf(flood.receiveAll()), 431);

  // Range is ignored: the whole picture, 200, however many ranges.
  std::string ranges = "Range: bytes=0-";
  for (int i = 0; i < 2700; ++i) ranges += ",0-";
  for (const std::string &range : {ranges + "\r\n", std::string("Range: nonsense\r\n"),
                                  std::string("Range: bytes=5-1\r\n")}) {
    const std::string answer = get(port, "/depth.exr?size=64x64", range);
    const std::string whole = get(port, "/depth.exr?size=64x64");
    EXPECT_EQ(statusOf(answer), 200) << range.substr(0, 40);
    EXPECT_TRUE(bodyOf(answer) == bodyOf(whole)) << range.substr(0, 40);
  }
  EXPECT_EQ(explorer.stop(), 0);
}

TEST(ExplorerRefusals, NoOtherSiteDrivesIt) {
  RunningExplorer explorer;
  const int port = explorer.port();
  const std::string own = "http://127.0.0.1:" + std::to_string(port);
  const struct {
    std::string headers;
    int status;
  } cases[] = {{"", 200},
               {"Sec-Fetch-Site: same-origin\r\n", 200},
               {"Sec-Fetch-Site: none\r\n", 200},
               {"Sec-Fetch-Site: cross-site\r\n", 403},
               {"Sec-Fetch-Site: same-site\r\n", 403},
               {"Origin: " + own + "\r\n", 200},
               {"Origin: http://evil.example\r\n", 403},
               {"Origin: null\r\n", 403},
               {"Origin: " + own + ".evil.example\r\n", 403},
               {"Origin: https://127.0.0.1:" + std::to_string(port) + "\r\n", 403},
               {"Origin: " + own + "\r\nOrigin: " + own + "\r\n", 403},
               {"Origin: " + own + "\r\nSec-Fetch-Site: cross-site\r\n", 403}};
  for (const auto &c : cases) {
    const std::string answer = get(port, "/image.png?size=4x4", c.headers);
    EXPECT_EQ(statusOf(answer), c.status) << c.headers;
    if (c.status == 200) {
      EXPECT_EQ(headerOf(answer, "Cross-Origin-Resource-Policy"), "same-origin")
          << "another site may show the picture";
    }
  }
  // A link on another site may open the page, and nothing more.
  const std::string navigation =
      "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: navigate\r\nSec-Fetch-Dest: document\r\n";
  EXPECT_EQ(statusOf(get(port, "/", navigation)), 200);
  EXPECT_EQ(statusOf(get(port, "/image.png?size=4x4", navigation)), 403);
  EXPECT_EQ(statusOf(get(port, "/", "Sec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: no-cors\r\n")), 403);
  // A request from another site starts no render at all.
  const std::string refused = get(port, "/image.png?" + longPixel("1000000000"),
                                  "Sec-Fetch-Site: cross-site\r\n");
  EXPECT_EQ(statusOf(refused), 403);
  EXPECT_TRUE(childrenOf(explorer.pid()).empty());
}

TEST(ExplorerRefusals, TooMuchWorkIs413AndTooMuchMemory503BeforeAnyWork) {
  // 10 x 10 samples, 10 + 10 probes: 2,000 passes an iteration.
  RunningExplorer explorer({"--max-work", "22000"});
  const int port = explorer.port();
  const std::string view = "/rows?size=10x10&coarse=10&fine=10&iterations=";
  EXPECT_EQ(statusOf(get(port, view + "11")), 200) << "exactly --max-work is allowed";
  const std::string over = get(port, view + "12");
  EXPECT_EQ(statusOf(over), 413);
  EXPECT_NE(bodyOf(over).find("--max-work (22000)"), std::string::npos) << over;
  EXPECT_NE(bodyOf(over).find("24000"), std::string::npos) << over;
  EXPECT_EQ(bodyOf(over).rfind("--size, --coarse, --fine, --iterations: ", 0), 0u)
      << "the page marks the options a message starts with";
  // The nearest search counts four times the steps search's passes.
  EXPECT_EQ(statusOf(get(port, view + "2&search=nearest")), 200);
  EXPECT_EQ(statusOf(get(port, view + "3&search=steps")), 200);
  const std::string nearest = get(port, view + "3&search=nearest");
  EXPECT_EQ(statusOf(nearest), 413);
  EXPECT_NE(bodyOf(nearest).find("up to 24000 iteration passes"), std::string::npos) << nearest;
  EXPECT_NE(bodyOf(nearest).find("x 4 for the nearest search"), std::string::npos) << nearest;
  EXPECT_EQ(bodyOf(nearest).rfind("--size, --coarse, --fine, --iterations, --search: ", 0), 0u)
      << nearest;
  // Supersamples count as samples.
  EXPECT_EQ(statusOf(get(port, "/image.png?size=5x5&supersample=2&coarse=10&fine=10&iterations=11&look=depth")), 200);
  EXPECT_EQ(statusOf(get(port, "/image.png?size=5x5&supersample=3&coarse=10&fine=10&iterations=11&look=depth")), 413);

  // Normals, occlusion and EXR rows count too: the same view lit, or as
  // an EXR, is over the limit.
  EXPECT_EQ(statusOf(get(port, "/image.png?size=10x10&coarse=10&fine=10&iterations=11")), 413);
  EXPECT_EQ(statusOf(get(port, "/depth.exr?size=10x10&coarse=10&fine=10&iterations=11")), 413);
  // Occlusion grows with the width: a row of a million pixels at one pass
  // a probe would take an hour.
  RunningExplorer wide;
  const std::string occluded = get(wide.port(), "/image.png?size=1000000x1&occlusion=true&coarse=1&fine=1&iterations=1");
  EXPECT_EQ(statusOf(occluded), 413) << occluded;
  EXPECT_EQ(statusOf(get(wide.port(), "/depth.exr?size=1x4000000&coarse=1&fine=1&iterations=1")), 413);
  EXPECT_TRUE(childrenOf(explorer.pid()).empty());

  // A million samples of EXR would take more than 100 MiB: 503, to retry;
  // a small view fits.
  RunningExplorer small({"--max-memory", "100", "--max-work", "1e15"});
  const std::string big = get(small.port(), "/depth.exr?size=1000x1000&coarse=1&fine=1&iterations=1");
  EXPECT_EQ(statusOf(big), 503) << big;
  EXPECT_EQ(headerOf(big, "Retry-After"), "1");
  EXPECT_EQ(statusOf(get(small.port(), "/depth.exr?size=100x100")), 200);
  // Renders in flight count together: while one holds most of the memory,
  // the next is told to come back.
  RawConnection holding(small.port());
  ASSERT_TRUE(holding.send("GET /rows?" + longPixel("1000000000", "1x100000") +
                           " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(small.port()) +
                           "\r\n\r\n"));
  ASSERT_TRUE(rendersStartWithin(small.pid(), 5));
  const std::string second = get(small.port(), "/rows?size=1x100000&coarse=1&fine=1&iterations=1");
  EXPECT_EQ(statusOf(second), 503) << second;
  holding.close();
  EXPECT_TRUE(rendersEndWithin(small.pid(), 3));
  EXPECT_EQ(statusOf(get(small.port(), "/rows?size=1x100000&coarse=1&fine=1&iterations=1")), 200);
  // An answer written gives its memory back, though its connection stays.
  RawConnection kept(small.port());
  ASSERT_TRUE(kept.send("GET /rows?size=1x100000&coarse=1&fine=1&iterations=1 HTTP/1.1\r\nHost: 127.0.0.1:" +
                        std::to_string(small.port()) + "\r\n\r\n"));
  EXPECT_EQ(statusOf(kept.receiveAnswer()), 200);
  EXPECT_FALSE(kept.closedByPeer());
  EXPECT_EQ(statusOf(get(small.port(), "/rows?size=1x100000&coarse=1&fine=1&iterations=1")), 200)
      << "a kept-alive connection holds its answer's memory";
}

TEST(ExplorerRenders, ARenderEndsWhenItsClientLeavesOrANewerOneComes) {
  RunningExplorer explorer({"--max-work", "1e13", "--workers", "1"});
  const int port = explorer.port();
  const pid_t pid = explorer.pid();
  const std::string request = "GET /rows?" + longPixel("1000000000") +
                              " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\n\r\n";
  {
    RawConnection leaving(port);
    ASSERT_TRUE(leaving.send(request));
    ASSERT_TRUE(rendersStartWithin(pid, 5)) << "the render never started";
  }
  EXPECT_TRUE(rendersEndWithin(pid, 2)) << "a render nobody waits for goes on";

  // One worker: a render waiting for it whose client leaves never starts.
  {
    RawConnection running(port), waiting(port);
    ASSERT_TRUE(running.send(request));
    ASSERT_TRUE(rendersStartWithin(pid, 5));
    const std::vector<std::string> first = childrenOf(pid);
    ASSERT_TRUE(waiting.send(request));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    waiting.close();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    running.close();
    EXPECT_TRUE(rendersEndWithin(pid, 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(childrenOf(pid).empty()) << "the abandoned waiting render started";
  }

  // A page's newer request stops its older one, waiting or running.
  const std::string page = "&page=drag&seq=";
  RawConnection older(port), queued(port);
  ASSERT_TRUE(older.send("GET /rows?" + longPixel("1000000000") + page + "1 HTTP/1.1\r\nHost: 127.0.0.1:" +
                         std::to_string(port) + "\r\n\r\n"));
  ASSERT_TRUE(rendersStartWithin(pid, 5));
  ASSERT_TRUE(queued.send("GET /rows?" + longPixel("1000000000") + page + "2 HTTP/1.1\r\nHost: 127.0.0.1:" +
                          std::to_string(port) + "\r\n\r\n"));
  const std::string olderAnswer = older.receiveAll(3);
  EXPECT_EQ(statusOf(olderAnswer), 409) << olderAnswer;
  const std::string newest = get(port, "/rows?size=3x3" + page + "3");
  EXPECT_EQ(statusOf(newest), 200) << newest;
  const std::string queuedAnswer = queued.receiveAll(3);
  EXPECT_EQ(statusOf(queuedAnswer), 409) << queuedAnswer;
  EXPECT_EQ(bodyOf(queuedAnswer), "superseded by a newer request\n");
  EXPECT_TRUE(rendersEndWithin(pid, 2));

  // While another page's render holds the worker, the page's requests wait;
  // a newer one answers the older ones at once, and when the worker is
  // free only the newest runs. Their connections stay open meanwhile.
  const std::string http = " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
  RawConnection holder(port), first(port), second(port), third(port);
  ASSERT_TRUE(holder.send("GET /rows?" + longPixel("1000000000") + "&page=hold&seq=0" + http + "\r\n"));
  ASSERT_TRUE(rendersStartWithin(pid, 5));
  const std::string waits = "GET /rows?" + longPixel("1000000000") + "&page=wait&seq=";
  ASSERT_TRUE(first.send(waits + "1" + http + "\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(second.send(waits + "2" + http + "\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(third.send("GET /rows?size=3x3&page=wait&seq=3" + http + "Connection: close\r\n\r\n"));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(childrenOf(pid).size(), 1u);
  holder.close();
  const std::string thirdAnswer = third.receiveAll(5);
  EXPECT_EQ(statusOf(thirdAnswer), 200) << thirdAnswer;
  EXPECT_TRUE(rendersEndWithin(pid, 2)) << "a superseded request started once the worker was free";
  EXPECT_EQ(statusOf(first.receiveAll(1)), 409);
  EXPECT_EQ(statusOf(second.receiveAll(1)), 409);
  EXPECT_EQ(explorer.stop(), 0);
}

// Many clients at once, each of the kinds that used to hold a thread, then
// an ordinary request. Bounded: about 270 connections for a few seconds.
TEST(ExplorerLoad, IdleSlowAndAbandonedClientsHoldNothing) {
  // Each abandoned render is as large as --max-work allows: 2 x 1e9 passes.
  RunningExplorer explorer({"--max-work", "2e9", "--workers", "2"});
  const int port = explorer.port();
  const pid_t pid = explorer.pid();
  ASSERT_GT(port, 0);
  ASSERT_EQ(statusOf(get(port, "/")), 200);
  const long startKiB = residentKiB(pid);
  std::vector<std::unique_ptr<RawConnection>> idle, slow, abandoned;
  for (int i = 0; i < 200; ++i) idle.push_back(std::make_unique<RawConnection>(port));
  for (int i = 0; i < 50; ++i) {
    slow.push_back(std::make_unique<RawConnection>(port));
    slow.back()->send("GET /args HTTP/1.1\r\n");
  }
  const std::string render = "GET /rows?" + longPixel("1000000000") +
                             " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
  for (int i = 0; i < 16; ++i) {
    abandoned.push_back(std::make_unique<RawConnection>(port));
    ASSERT_TRUE(abandoned.back()->send(render));
  }
  // The slow clients go on sending a header line now and then, and others
  // send headers that never end, each cut off at the size it may have.
  for (int round = 0; round < 3; ++round) {
    for (auto &client : slow) client->send("X-Slow: " + std::to_string(round) + "\r\n");
    for (int flood = 0; flood < 4; ++flood) {
      RawConnection endless(port);
      endless.send("GET /args HTTP/1.1\r\n");
      for (int line = 0; line < 200; ++line)
        if (!endless.send("X-" + std::to_string(line) + ": " + std::string(1000, 'b') + "\r\n")) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  for (const auto &connection : idle) ASSERT_TRUE(connection->connected());
  EXPECT_FALSE(childrenOf(pid).empty()) << "no render ever ran";
  EXPECT_LE(childrenOf(pid).size(), 2u) << "more renders at once than workers";

  // Ordinary requests are answered at once all the same.
  auto start = Clock::now();
  EXPECT_EQ(statusOf(get(port, "/")), 200);
  EXPECT_EQ(statusOf(get(port, "/args?size=640x360")), 200);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));

  // The abandoned clients leave: their renders end, and the server idles.
  abandoned.clear();
  EXPECT_TRUE(rendersEndWithin(pid, 2)) << "abandoned renders still run";
  const double before = cpuSeconds(pid);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_LT(cpuSeconds(pid) - before, 0.2) << "the server is busy with nobody";
  start = Clock::now();
  EXPECT_EQ(statusOf(get(port, "/image.png?size=32x32")), 200);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  // More idle connections than the server keeps: the oldest make room,
  // and a newcomer is still answered.
  for (int i = 0; i < 300; ++i) idle.push_back(std::make_unique<RawConnection>(port));
  EXPECT_EQ(statusOf(get(port, "/args")), 200) << "idle connections locked others out";
  EXPECT_TRUE(idle.front()->closedByPeer()) << "the oldest idle connection was kept";

  // What the connections took is theirs alone: a few KiB each.
  const long grownKiB = residentKiB(pid) - startKiB;
  std::printf("resident memory: %ld KiB at the start, grown by %ld KiB\n", startKiB, grownKiB);
  EXPECT_EQ(explorer.stop(), 0);
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "resident memory is not measured under the address sanitizer, "
                  "which keeps what is freed";
#else
  EXPECT_LT(grownKiB, 16 * 1024);
#endif
}

TEST(ExplorerLoad, AHeaderThatNeverEndsIsCutOff) {
  RunningExplorer explorer;
  RawConnection trickle(explorer.port());
  trickle.send("GET /args HTTP/1.1\r\n");
  const auto start = Clock::now();
  // A line a second, as long as the server listens: it must stop listening.
  for (int i = 0; i < 25 && !trickle.closedByPeer(); ++i) {
    trickle.send("X-" + std::to_string(i) + ": 1\r\n");
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  EXPECT_TRUE(trickle.closedByPeer()) << "a slow client was never cut off";
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
}

TEST(ExplorerListen, MessagesNameTheAddressAsGiven) {
  // ::ffff:127.0.0.1 is 127.0.0.1: the same address, URL and Host.
  RunningExplorer mapped({"--listen", "::ffff:127.0.0.1"});
  ASSERT_GT(mapped.port(), 0);
  EXPECT_EQ(mapped.url(), "http://127.0.0.1:" + std::to_string(mapped.port()) + "/");
  EXPECT_EQ(statusOf(get(mapped.port(), "/args")), 200);
  EXPECT_EQ(mapped.errors().find("anyone who can reach it"), std::string::npos);
  // A failed bind names the address asked for, not the one the URL shows.
  const ProgramResult taken =
      runProgram(kExplore, {"--listen", "0.0.0.0", "--port", std::to_string(mapped.port())});
  EXPECT_EQ(taken.exitStatus, 1);
  EXPECT_NE(taken.err.find("cannot listen on 0.0.0.0:" + std::to_string(mapped.port())),
            std::string::npos)
      << taken.err;
  const ProgramResult taken6 =
      runProgram(kExplore, {"--listen", "::ffff:0.0.0.0", "--port", std::to_string(mapped.port())});
  EXPECT_NE(taken6.err.find("cannot listen on 0.0.0.0:"), std::string::npos) << taken6.err;
}

}  // namespace
}  // namespace quatdepth::testing
