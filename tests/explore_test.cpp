// quatdepth-explore through the built program and a real HTTP client: what
// it serves is what quatdepth-render writes, what quatdepth-render refuses
// it refuses with the same message, a page's newer request stops its older
// one, and only requests for its own address are answered.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "explore/host_check.h"
#include "explore/supersession.h"
#include "render/depth_exr.h"
#include "request/parameters.h"
#include "request/render_request.h"
#include "run_program.h"
#include "running_explorer.h"

namespace quatdepth::testing {
namespace {

const std::string kRender = QUATDEPTH_RENDER_PROGRAM;
const std::string kRenderer = QUATDEPTH_PROGRAM;

// "box=-1.1,...&size=37x23" as quatdepth-render's options.
std::vector<std::string> renderOptions(const std::string &query) {
  std::vector<std::string> options;
  size_t start = 0;
  while (start < query.size()) {
    const size_t end = std::min(query.find('&', start), query.size());
    const std::string pair = query.substr(start, end - start);
    const size_t equals = pair.find('=');
    options.push_back("--" + pair.substr(0, equals));
    options.push_back(pair.substr(equals + 1));
    start = end + 1;
  }
  return options;
}

std::string rendered(const std::string &query, const std::string &format) {
  std::vector<std::string> options = renderOptions(query);
  for (const char *word : {"--format", format.c_str(), "-o", "-"})
    options.push_back(word);
  const ProgramResult result = runProgram(kRender, options);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  return result.out;
}

TEST(Explorer, ServesTheBytesQuatdepthRenderWrites) {
  RunningExplorer explorer({"--threads", "2"});
  ASSERT_GT(explorer.port(), 0) << "no address printed";
  EXPECT_EQ(explorer.url(), "http://127.0.0.1:" + std::to_string(explorer.port()) + "/");
  httplib::Client client = explorer.client();
  const std::string views[] = {
      "size=40x30",
      "box=-1.1,-1,-1.2,1.2,1.05,1.15&c=-0.2,0.25,0.3,-0.05&w=0.05&angles=0.3,-0.5,0.7"
      "&size=37x23&coarse=60&fine=7&iterations=25&bailout=12",
      "angles=1e-1,0.2,-0.3&size=31x17&look=depth&colormap=magma&supersample=3",
      "c=-0.291,-0.399,0.339,0.437&size=29x21&colormap=turbo&look=lit&supersample=2"};
  for (const std::string &view : views) {
    SCOPED_TRACE(view);
    const auto png = client.Get("/image.png?" + view);
    ASSERT_TRUE(png) << "no answer";
    EXPECT_EQ(png->status, 200) << png->body;
    EXPECT_EQ(png->get_header_value("Content-Type"), "image/png");
    EXPECT_TRUE(png->body == rendered(view, "png")) << "PNG bytes differ";

    const auto rows = client.Get("/rows?" + view);
    ASSERT_TRUE(rows);
    EXPECT_TRUE(rows->body == rendered(view, "rows")) << "rows differ";
    // The printed arguments render the same rows with quatdepth itself.
    const auto args = client.Get("/args?" + view);
    ASSERT_TRUE(args);
    ASSERT_EQ(args->status, 200) << args->body;
    std::vector<std::string> positional = words(args->body);
    EXPECT_EQ(positional.size(), 20u) << args->body;
    EXPECT_TRUE(runProgram(kRenderer, positional).out == rows->body)
        << "quatdepth " << args->body << " writes other rows";

    if (depthExrSupported()) {
      const auto exr = client.Get("/depth.exr?" + view);
      ASSERT_TRUE(exr);
      EXPECT_EQ(exr->status, 200) << exr->body;
      EXPECT_TRUE(exr->body == rendered(view, "exr")) << "EXR bytes differ";
    }
  }
  // HEAD answers as GET would, without the body.
  const auto head = client.Head("/image.png?size=8x8");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->status, 200);
  EXPECT_TRUE(head->body.empty());
  EXPECT_EQ(explorer.stop(), 0) << "Ctrl-C is a clean stop";
}

TEST(Explorer, RefusesWhatQuatdepthRenderRefusesWithItsMessage) {
  RunningExplorer explorer({"--max-pixels", "1000"});
  httplib::Client client = explorer.client();
  for (const std::string view :
       {"c=0.1,0.2,0.3", "w=nan", "size=640", "size=0x5", "coarse=0",
        "fine=ten", "iterations=1.5", "angles=0,0,1e17", "look=shiny",
        "colormap=rainbow", "supersample=0", "supersample=17", "size=",
        "c=&w=1", "search=bogus", "search=", "search=Steps"}) {
    SCOPED_TRACE(view);
    const auto answer = client.Get("/image.png?" + view);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 400);
    std::vector<std::string> options = renderOptions(view);
    options.insert(options.begin(), {"--format", "png", "-o", "-"});
    const ProgramResult refused = runProgram(kRender, options);
    ASSERT_EQ(refused.exitStatus, 2);
    EXPECT_EQ("quatdepth-render: " + answer->body, refused.err);
  }
  // Nothing that names a file is taken: no --params, no output.
  for (const std::string query :
       {"params=/etc/passwd", "output=/tmp/x", "o=/tmp/x", "format=pgm",
        "threads=1000", "c=0,0,0,0&c=1,0,0,0"}) {
    SCOPED_TRACE(query);
    const auto answer = client.Get("/image.png?" + query);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 400) << answer->body;
  }
  // Samples, not pixels, count against --max-pixels; depth formats take
  // one sample a pixel whatever is asked.
  const struct {
    std::string path;
    int status;
  } sizes[] = {{"/image.png?size=40x25", 200},
               {"/image.png?size=40x26", 413},
               {"/image.png?size=15x15&supersample=2", 200},
               {"/image.png?size=16x16&supersample=2", 413},
               {"/rows?size=16x16&supersample=2", 200},
               {"/args?size=4000x4000", 200}};
  for (const auto &size : sizes) {
    const auto answer = client.Get(size.path);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, size.status) << size.path << ": " << answer->body;
  }
  const auto post = client.Post("/image.png", "size=8x8", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 405);
  EXPECT_EQ(post->get_header_value("Allow"), "GET, HEAD");
  const auto missing = client.Get("/etc/passwd");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  const auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("explore.js"), std::string::npos);
  EXPECT_EQ(page->body.find("__START_VIEW__"), std::string::npos);
  // The page lists nothing itself: the parameters come with it, in order.
  EXPECT_EQ(page->body.find("__PARAMETERS__"), std::string::npos);
  size_t at = 0;
  for (const Parameter &parameter : kParameters) {
    at = page->body.find("{\"key\":\"" + std::string(parameter.key) + "\"", at);
    ASSERT_NE(at, std::string::npos) << parameter.key;
  }
  // The view's parameters (what quatdepth-mesh takes too) say so.
  EXPECT_NE(page->body.find(R"({"key":"c","kind":"reals","default":"-0.1,0.2,0.3,-0.1",)"
                            R"("values":["c0","c1","c2","c3"],"view":true})"),
            std::string::npos);
  EXPECT_NE(page->body.find(R"({"key":"size","kind":"size","default":"300x300"})"),
            std::string::npos);
  EXPECT_NE(page->body.find(R"({"key":"look","kind":"choice","default":"lit",)"
                            R"("choices":["lit","relief","depth"]})"),
            std::string::npos);
  EXPECT_NE(page->body.find(R"({"key":"supersample","kind":"count","default":"1","most":16})"),
            std::string::npos);
}

// The search key renders as quatdepth-render's --search does; quatdepth's
// arguments (/args) stand only for the steps search, which it has.
TEST(Explorer, RendersTheSearchAQueryAsksFor) {
  RunningExplorer explorer({"--threads", "2"});
  httplib::Client client = explorer.client();
  const std::string view = "size=24x16&angles=0.3,0.5,0.7&coarse=20&fine=7&iterations=60";
  const auto nearestPng = client.Get("/image.png?" + view + "&search=nearest");
  ASSERT_TRUE(nearestPng);
  EXPECT_EQ(nearestPng->status, 200) << nearestPng->body;
  EXPECT_TRUE(nearestPng->body == rendered(view + "&search=nearest", "png"));
  const auto nearestRows = client.Get("/rows?" + view + "&search=nearest");
  const auto stepsRows = client.Get("/rows?" + view + "&search=steps");
  ASSERT_TRUE(nearestRows && stepsRows);
  EXPECT_TRUE(nearestRows->body == rendered(view + "&search=nearest", "rows"));
  EXPECT_TRUE(stepsRows->body == rendered(view, "rows"));
  EXPECT_FALSE(nearestRows->body == stepsRows->body) << "a view the search changes";

  const auto stepsArgs = client.Get("/args?" + view + "&search=steps");
  ASSERT_TRUE(stepsArgs);
  EXPECT_EQ(stepsArgs->status, 200) << stepsArgs->body;
  EXPECT_TRUE(runProgram(kRenderer, words(stepsArgs->body)).out == stepsRows->body);
  const auto nearestArgs = client.Get("/args?" + view + "&search=nearest");
  ASSERT_TRUE(nearestArgs);
  EXPECT_EQ(nearestArgs->status, 400);
  std::vector<std::string> print = renderOptions(view + "&search=nearest");
  print.push_back("--print-args");
  const ProgramResult refused = runProgram(kRender, print);
  EXPECT_EQ(refused.exitStatus, 2);
  EXPECT_EQ("quatdepth-render: " + nearestArgs->body, refused.err);
  EXPECT_EQ(nearestArgs->body.rfind("--search nearest: ", 0), 0u) << nearestArgs->body;
}

TEST(Explorer, AnswersOnlyItsOwnAddress) {
  RunningExplorer explorer;
  httplib::Client client = explorer.client();
  const std::string port = std::to_string(explorer.port());
  const struct {
    std::string host;
    int status;
  } hosts[] = {{"127.0.0.1:" + port, 200},
               {"localhost:" + port, 200},
               {"LocalHost:" + port, 200},
               {"evil.example:" + port, 403},
               {"127.0.0.1.evil.example:" + port, 403},
               {"127.0.0.1", 403},  // port 80
               {"127.0.0.1:1" + port, 403},
               {"", 403}};
  for (const auto &host : hosts) {
    const auto answer = client.Get("/args", {{"Host", host.host}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, host.status) << "Host: " << host.host;
  }
  const auto twice = client.Get(
      "/args", {{"Host", "127.0.0.1:" + port}, {"Host", "evil.example"}});
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->status, 403) << "two Host headers, the first ours";
  const auto foreignPost = client.Post("/image.png", {{"Host", "evil.example"}},
                                       "size=8x8", "text/plain");
  ASSERT_TRUE(foreignPost);
  EXPECT_EQ(foreignPost->status, 403) << "a foreign page's POST";
}

TEST(Explorer, APortInUseIsRefused) {
  RunningExplorer first;
  ASSERT_GT(first.port(), 0);
  const ProgramResult second =
      runProgram(kExplore, {"--port", std::to_string(first.port())});
  EXPECT_EQ(second.exitStatus, 1) << "two servers share port " << first.port();
  EXPECT_NE(second.err.find("cannot listen"), std::string::npos) << second.err;
}

TEST(HostCheck, NamesThisServerOnly) {
  EXPECT_TRUE(hostNamesServer("[::1]:8080", "::1", 8080));
  EXPECT_TRUE(hostNamesServer("[::1]", "::1", 80)) << "no port means 80";
  EXPECT_FALSE(hostNamesServer("[::1]:", "::1", 80));
  EXPECT_TRUE(hostNamesServer("localhost:8080", "::1", 8080));
  EXPECT_FALSE(hostNamesServer("127.0.0.1:8080", "::1", 8080));
  EXPECT_TRUE(hostNamesServer("127.0.0.1", "127.0.0.1", 80));
  EXPECT_FALSE(hostNamesServer("127.0.0.1:", "127.0.0.1", 80));
  EXPECT_FALSE(hostNamesServer("[::1", "::1", 80));
  // A wildcard takes any address but no name, which could be rebound.
  EXPECT_TRUE(hostNamesServer("192.0.2.7:9000", "0.0.0.0", 9000));
  EXPECT_TRUE(hostNamesServer("[2001:db8::1]:9000", "::", 9000));
  EXPECT_FALSE(hostNamesServer("attacker.example:9000", "0.0.0.0", 9000));
  // A non-loopback address is not "localhost".
  EXPECT_FALSE(hostNamesServer("localhost:9000", "192.0.2.7", 9000));
  EXPECT_TRUE(hostNamesServer("192.0.2.7:9000", "192.0.2.7", 9000));
}

TEST(Supersession, OrdersAPagesRequestsByTheirNumbers) {
  Supersession renders;
  const Supersession::StopFlag first = renders.begin("page", 1);
  ASSERT_TRUE(first);
  const Supersession::StopFlag other = renders.begin("other", 0);
  const Supersession::StopFlag second = renders.begin("page", 2);
  ASSERT_TRUE(second);
  EXPECT_TRUE(first->load()) << "the older request goes on";
  EXPECT_FALSE(second->load());
  EXPECT_FALSE(other->load()) << "another page's request was stopped";
  EXPECT_FALSE(renders.begin("page", 1)) << "a late older request was taken";
  EXPECT_FALSE(renders.begin("page", 2)) << "a number taken twice";
  renders.end("page", 2);
  EXPECT_TRUE(renders.begin("page", 3));
  renders.stopAll();
  EXPECT_TRUE(other->load());
  EXPECT_FALSE(renders.begin("new", 0)) << "a request after the stop";
}

TEST(Explorer, ANewerRequestOfThePageStopsTheOlderOne) {
  RunningExplorer explorer({"--max-work", "1e13"});
  // Seconds to minutes at full length: mostly inside, at a high cap.
  const std::string slow =
      "/image.png?page=p1&seq=1&size=2048x2048&iterations=1000&angles=0.3,0.5,0.7";
  std::future<httplib::Result> older = std::async(std::launch::async, [&] {
    return explorer.client().Get(slow);
  });
  // Not a timing check: only so that the older one is rendering when the
  // newer one comes (had it come first, the older one would be refused
  // on arrival, and the answer would be the same).
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  httplib::Client client = explorer.client();
  const auto newer = client.Get("/image.png?page=p1&seq=2&size=20x20");
  ASSERT_TRUE(newer);
  EXPECT_EQ(newer->status, 200);
  const httplib::Result stopped = older.get();
  ASSERT_TRUE(stopped);
  EXPECT_EQ(stopped->status, 409) << "the older render ran to its end";
  EXPECT_TRUE(stopped->body == "superseded by a newer request\n");
  const auto late = client.Get("/image.png?page=p1&seq=1&size=20x20");
  ASSERT_TRUE(late);
  EXPECT_EQ(late->status, 409);
  // Another page, and requests of no page, go on as they are.
  const auto other = client.Get("/image.png?page=p2&seq=0&size=20x20");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 200);
  const auto malformed = client.Get("/image.png?page=p1&size=20x20");
  ASSERT_TRUE(malformed);
  EXPECT_EQ(malformed->status, 400);
}

TEST(Explorer, CtrlCStopsARenderInProgress) {
  RunningExplorer explorer({"--max-work", "1e13"});
  // One row of points inside the set at a cap of two billion: hours. They
  // lie in a Siegel disk, where orbits go round for ever without ever
  // repeating, so the search cannot answer them early by finding a cycle.
  std::future<httplib::Result> render = std::async(std::launch::async, [&] {
    return explorer.client().Get(
        "/rows?size=16x1&box=-0.40,-0.3378,-0.01,-0.34,-0.30,0.01"
        "&c=-0.390540870218399,-0.586787907346969,0,0&angles=0,0,0&iterations=2000000000");
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(explorer.stop(), 0);
  const httplib::Result answer = render.get();
  ASSERT_TRUE(answer) << "the render's client got no answer";
  EXPECT_EQ(answer->status, 503) << answer->body;
  EXPECT_EQ(answer->body, "the server is stopping\n");
}

TEST(Explorer, StartsFromAPicturesView) {
  TemporaryDirectory folder;
  const std::string picture = folder.file("view.png");
  ASSERT_EQ(runProgram(kRender, {"--size", "12x9", "--c", "-0.2,0.7,0,0.05",
                                 "--angles", "0.125,0,-1.5", "--colormap", "magma",
                                 "--look", "depth", "--supersample", "3", "--search",
                                 "nearest", "-o", picture})
                .exitStatus,
            0);
  RunningExplorer explorer({"--params", picture});
  const auto page = explorer.client().Get("/");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find(R"("c":"-0.2,0.7,0,0.05")"), std::string::npos);
  EXPECT_NE(page->body.find(R"("angles":"0.125,0,-1.5")"), std::string::npos);
  EXPECT_NE(page->body.find(R"("size":"12x9")"), std::string::npos);
  // How the picture looked comes with it.
  EXPECT_NE(page->body.find(R"("colormap":"magma")"), std::string::npos);
  EXPECT_NE(page->body.find(R"("look":"depth")"), std::string::npos);
  EXPECT_NE(page->body.find(R"("supersample":"3")"), std::string::npos);
  EXPECT_NE(page->body.find(R"("occlusion":"false")"), std::string::npos);
  EXPECT_NE(page->body.find(R"("search":"nearest")"), std::string::npos);
  // Without a picture, the default search.
  RunningExplorer plain;
  const auto plainPage = plain.client().Get("/");
  ASSERT_TRUE(plainPage);
  EXPECT_NE(plainPage->body.find(std::string(R"("search":")") +
                                 depthSearchName(kDefaultDepthSearch) + "\""),
            std::string::npos);
}

TEST(Explorer, RefusesBadOptionsWithTheirStatus) {
  TemporaryDirectory folder;
  writeFile(folder.file("bad.txt"), "size = many\n");
  const struct {
    std::vector<std::string> options;
    int status;
    std::string message;
  } cases[] = {
      {{"--listen", "localhost"}, 2, "--listen 'localhost': give an IP address"},
      {{"--port", "65536"}, 2, "--port"},
      {{"--threads", "-1"}, 2, "--threads"},
      {{"--max-pixels", "0"}, 2, "--max-pixels"},
      {{"--params", folder.file("missing.png")}, 3, "missing.png"},
      {{"--params", folder.file("bad.txt")}, 2, "--size 'many'"},
      {{"--colour", "x"}, 2, "--colour"}};
  for (const auto &c : cases) {
    const ProgramResult result = runProgram(kExplore, c.options);
    EXPECT_EQ(result.exitStatus, c.status) << c.options[0];
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty());
  }
  // The address is the one thing it prints: not printed is a failure.
  RunOptions toFullDisk;
  toFullDisk.stdoutPath = "/dev/full";
  const ProgramResult full = runProgram(kExplore, {}, toFullDisk);
  EXPECT_EQ(full.exitStatus, 4) << full.err;
  const ProgramResult help = runProgram(kExplore, {"--help"}, toFullDisk);
  EXPECT_EQ(help.exitStatus, 4) << help.err;
  EXPECT_NE(help.err.find("standard output: No space left"), std::string::npos) << help.err;
}

}  // namespace
}  // namespace quatdepth::testing
