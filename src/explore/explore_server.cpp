#include "explore/explore_server.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>
#include <list>
#include <optional>

#include "explore/host_check.h"
#include "explore/page_assets.h"
#include "explore/render_cost.h"
#include "explore/render_process.h"
#include "explore/request_target.h"
#include "explore/supersession.h"
#include "explore/view_query.h"
#include "request/parameters.h"
#include "request/positional_arguments.h"
#include "request/shown_text.h"

namespace quatdepth {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Request = http::request<http::empty_body>;

// A request's header must arrive whole within this, however slowly it
// comes; an idle kept-alive connection is closed after it too.
constexpr auto kReadTimeout = std::chrono::seconds(10);
// A client that stops reading its answer is dropped after this.
constexpr auto kWriteTimeout = std::chrono::seconds(60);
// How often a waiting or running render looks whether it is still wanted.
constexpr auto kWatchInterval = std::chrono::milliseconds(40);
// After a stop, answers still being written get this long.
constexpr auto kStopGrace = std::chrono::seconds(1);
constexpr size_t kHeaderBytes = 16 * 1024;
constexpr size_t kHeaderFields = 64;
constexpr size_t kMostConnections = 512;
constexpr size_t kMostWaitingRenders = 64;
constexpr const char *kRetryAfterSeconds = "1";

// A page's id: short, and plain enough to show in a message.
bool isPageId(const std::string &id) {
  if (id.empty() || id.size() > 64) return false;
  for (const char c : id)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'))
      return false;
  return true;
}

std::string jsonString(const std::string &text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    // Escaping '<' keeps "</script>" out of the page the view is put in.
    if (c == '"' || c == '\\' || c == '<' || byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

// ["a","b"] of `texts`.
std::string jsonList(const std::vector<std::string> &texts) {
  std::string json = "[";
  for (const std::string &text : texts) json += (json.size() > 1 ? "," : "") + jsonString(text);
  return json + "]";
}

// The parameters as the page lists its keys, defaults and choices: an
// array of objects, each with its key, kind and default, a real group's
// value names, a choice's names, a count's largest value, and "view":true
// for the parameters of the view (what quatdepth-mesh takes).
std::string parameterTableJson() {
  const Frame defaults = defaultFrame();
  std::string json = "[";
  for (const Parameter &parameter : kParameters) {
    if (json.size() > 1) json += ',';
    json += "{\"key\":" + jsonString(parameter.key) +
            ",\"kind\":" + jsonString(parameterKindName(parameter.kind)) +
            ",\"default\":" + jsonString(parameterValue(parameter, defaults));
    if (parameter.kind == ParameterKind::kReals) {
      std::vector<std::string> names;
      for (int i = parameter.firstValue; i < parameter.firstValue + parameter.valueCount; ++i)
        names.push_back(kSettingValues[i].name);
      json += ",\"values\":" + jsonList(names);
    }
    if (parameter.kind == ParameterKind::kChoice)
      json += ",\"choices\":" +
              jsonList(std::vector<std::string>(parameter.choices.begin(), parameter.choices.end()));
    if (parameter.kind == ParameterKind::kCount)
      json += ",\"most\":" + std::to_string(parameter.countMost);
    if (parameter.view) json += ",\"view\":true";
    json += "}";
  }
  return json + "]";
}

// `page` with `json` in place of `slot`.
std::string filledIn(std::string page, const std::string &slot, const std::string &json) {
  const size_t at = page.find(slot);
  if (at != std::string::npos) page.replace(at, slot.size(), json);
  return page;
}

// The page, with the parameters and the view it starts from put in as
// JSON, the view an object of strings.
std::string pageWithView(
    const std::string &page,
    const std::vector<std::pair<std::string, std::string>> &view) {
  std::string json = "{";
  for (const auto &[key, value] : view) {
    if (json.size() > 1) json += ',';
    json += jsonString(key);
    json += ':';
    json += jsonString(value);
  }
  json += "}";
  return filledIn(filledIn(page, "__PARAMETERS__", parameterTableJson()), "__START_VIEW__", json);
}

const char *contentTypeOf(ViewOutput output) {
  switch (output) {
    case ViewOutput::kPng: return "image/png";
    case ViewOutput::kExr: return "image/x-exr";
    case ViewOutput::kRows: return "application/octet-stream";
    case ViewOutput::kArguments: break;
  }
  return "text/plain; charset=utf-8";
}

int64_t physicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? int64_t{pages} * size : int64_t{8} << 30;
}

// The path of the program running, for the quatdepth-render beside it.
std::string programBesideThisOne(const char *name) {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return name;
  std::string self(path, static_cast<size_t>(length));
  const size_t slash = self.rfind('/');
  return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + name;
}

// The message quatdepth-render left on standard error, without its name.
std::string renderMessage(std::string text) {
  const std::string prefix = "quatdepth-render: ";
  if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text.empty() ? "the render failed" : text;
}

class Connection;

}  // namespace

// The bookkeeping comes before the I/O objects: destroying the io_context
// destroys the connections its pending handlers hold, which still use it.
struct ExploreServer::State {
  ~State() { destroying = true; }

  ExploreOptions options;
  Supersession renders;
  uint64_t anonymous = 0;  // requests of no page, numbered
  int port = 0;
  std::string indexPage;  // with the start view in it
  bool stopping = false;

  // Every open connection; each removes itself when it closes.
  std::list<Connection *> connections;
  // Renders admitted and not yet ended: the memory they may take, and
  // those waiting for a worker, in order of arrival.
  int64_t memoryInFlight = 0;
  int renderWorkers = 1;
  int rendersRunning = 0;
  std::deque<std::weak_ptr<Connection>> waiting;
  bool destroying = false;

  net::io_context io{1};
  tcp::acceptor acceptor{io};
  net::steady_timer retryAccept{io};
  net::steady_timer stopTimer{io};

  void accept();
  bool dropOldestIdle();
  size_t rendersWaiting() const;
  void schedule();
  void beginStop();
  void waitForAnswers(std::chrono::steady_clock::time_point deadline);
};

namespace {

// One client connection: reads a request, answers it, and reads the next,
// all on the server's one thread. A view's render waits for a worker and
// runs as a process; a watch ends it as soon as its client leaves or a
// newer request of its page comes.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, ExploreServer::State &server)
      : stream_(std::move(socket)), server_(server),
        watchTimer_(server.io), renderEnded_(server.io) {
    server_.connections.push_front(this);
    registered_ = server_.connections.begin();
  }
  ~Connection() {
    endRender();
    releaseAnswerMemory();
    server_.connections.erase(registered_);
  }

  void start() { readRequest(); }

  // Called when a worker is free for this connection's render.
  void runRender();

  // The server stops: a render waiting or running gets 503, an idle
  // connection is closed.
  void serverStopping() {
    if (render_) {
      endRender();
      answer(503, "the server is stopping", true);
    } else if (!writing_) {
      beast::error_code ignored;
      stream_.socket().close(ignored);
    }
  }

  bool waitsForWorker() const { return render_ && !render_->process; }

  // Reading a request (or waiting for one): nothing of it is lost when
  // the connection closes but the client's patience.
  bool idle() const { return !closed_ && !render_ && !writing_; }
  void drop() { closeNow(); }

 private:
  struct PendingRender {
    std::vector<std::string> arguments;
    ViewOutput output;
    std::string page;
    uint64_t sequence = 0;
    Supersession::StopFlag stop;
    int64_t memoryBytes = 0;
    std::unique_ptr<RenderProcess> process;
  };

  void readRequest();
  void onHeader(beast::error_code error);
  void handle();
  bool refusedByOrigin();
  void serveAsset(const std::string &path);
  void serveView(ViewOutput output, const RequestTarget &target);
  bool pageRequest(const RequestTarget &target, std::string *page, uint64_t *sequence);
  void watch();
  void onRenderEnded();
  void endRender();
  bool clientLeft();

  void answer(int status, const std::string &message, bool close = false,
              const char *retryAfter = nullptr);
  template <class Body>
  void send(http::response<Body> &&response, bool close);
  void releaseAnswerMemory() {
    server_.memoryInFlight -= answerMemoryBytes_;
    answerMemoryBytes_ = 0;
  }
  void closeNow() {
    closed_ = true;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  ExploreServer::State &server_;
  std::list<Connection *>::iterator registered_;
  std::optional<http::request_parser<http::empty_body>> parser_;
  bool head_ = false;  // the request is HEAD: the answer without its body
  bool keepAlive_ = false;
  bool writing_ = false;
  bool closed_ = false;  // closed, and gone once its last handler has run
  std::optional<PendingRender> render_;
  // A rendered answer still being written keeps its render's share of
  // the memory until it is out.
  int64_t answerMemoryBytes_ = 0;
  net::steady_timer watchTimer_;
  net::posix::stream_descriptor renderEnded_;
};

void Connection::readRequest() {
  if (server_.stopping) return closeNow();
  parser_.emplace();
  parser_->header_limit(kHeaderBytes);
  stream_.expires_after(kReadTimeout);
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code error, size_t) {
                            self->onHeader(error);
                          });
}

void Connection::onHeader(beast::error_code error) {
  if (error == http::error::header_limit)
    return answer(431, "the request's header is larger than this server reads (" +
                           std::to_string(kHeaderBytes) + " bytes)",
                  true);
  if (error) {
    // A client that left, went quiet or sent no request: nothing to say.
    const bool malformed =
        error.category() == http::make_error_code(http::error::bad_method).category() &&
        error != http::error::end_of_stream && error != http::error::partial_message;
    if (!malformed) return closeNow();
    return answer(400, "a malformed request: " + error.message(), true);
  }
  stream_.expires_never();
  handle();
}

// The origin of a request a browser sent on another site's behalf: refused,
// so no other site can start renders here or read what they made.
bool Connection::refusedByOrigin() {
  const Request &request = parser_->get();
  const auto site = request.find("Sec-Fetch-Site");
  if (site != request.end() &&
      (site->value() == "cross-site" || site->value() == "same-site")) {
    // A link on another site may open the page itself, which renders
    // nothing; what it then asks for comes from its own origin.
    const bool opensPage = request["Sec-Fetch-Mode"] == "navigate" &&
                           request["Sec-Fetch-Dest"] == "document" &&
                           (request.target() == "/" || request.target() == "/index.html");
    return !opensPage;
  }
  if (request.count(http::field::origin) > 1) return true;
  const auto origin = request.find(http::field::origin);
  return origin != request.end() &&
         origin->value() != "http://" + std::string(request[http::field::host]);
}

void Connection::handle() {
  const Request &request = parser_->get();
  head_ = request.method() == http::verb::head;
  keepAlive_ = request.keep_alive();
  if (static_cast<size_t>(std::distance(request.begin(), request.end())) > kHeaderFields)
    return answer(431, "more header fields than this server reads (" +
                           std::to_string(kHeaderFields) + ")",
                  true);
  // Two Host headers could name two servers: neither is taken.
  if (request.count(http::field::host) != 1 ||
      !hostNamesServer(std::string(request[http::field::host]),
                       server_.options.listenAddress, server_.port))
    return answer(403, "this server answers only requests for " +
                           urlHost(server_.options.listenAddress) + ":" +
                           std::to_string(server_.port),
                  true);
  if (refusedByOrigin())
    return answer(403, "this server answers only its own page, not other sites", true);
  if (request.method() != http::verb::get && request.method() != http::verb::head)
    return answer(405, "only GET and HEAD are answered", true);
  // The body is never read: the next request would start inside it.
  if (request.count(http::field::transfer_encoding) > 0 ||
      (parser_->content_length() && *parser_->content_length() > 0))
    return answer(400, "requests here carry no body", true);

  RequestTarget target;
  if (const std::optional<std::string> refusal =
          parseRequestTarget(std::string_view(request.target().data(), request.target().size()),
                             &target))
    return answer(400, *refusal);
  const struct {
    const char *path;
    ViewOutput output;
  } views[] = {{"/image.png", ViewOutput::kPng},
               {"/rows", ViewOutput::kRows},
               {"/depth.exr", ViewOutput::kExr},
               {"/args", ViewOutput::kArguments}};
  for (const auto &view : views)
    if (target.path == view.path) return serveView(view.output, target);
  serveAsset(target.path);
}

void Connection::serveAsset(const std::string &requested) {
  const std::string path = requested == "/" ? "/index.html" : requested;
  for (size_t i = 0; i < kPageAssetCount; ++i) {
    const PageAsset &asset = kPageAssets[i];
    if (path != asset.path) continue;
    http::response<http::string_body> response{http::status::ok, 11};
    response.set(http::field::content_type, asset.contentType);
    response.body() = path == "/index.html" ? server_.indexPage : std::string(asset.bytes);
    return send(std::move(response), false);
  }
  answer(404, "not found: " + shownText(requested));
}

// Which page a request is of, and its number there: a page numbers its
// requests, and any other request is a page of its own. False when the
// two are malformed or one comes without the other.
bool Connection::pageRequest(const RequestTarget &target, std::string *page,
                             uint64_t *sequence) {
  const auto pageKey = target.query.find(kPageKey);
  const auto sequenceKey = target.query.find(kSequenceKey);
  if (pageKey == target.query.end() && sequenceKey == target.query.end()) {
    *page = "~" + std::to_string(server_.anonymous++);
    *sequence = 0;
    return true;
  }
  if (pageKey == target.query.end() || sequenceKey == target.query.end() ||
      target.query.count(kPageKey) > 1 || target.query.count(kSequenceKey) > 1)
    return false;
  *page = pageKey->second;
  const std::string &number = sequenceKey->second;
  const char *end = number.data() + number.size();
  const auto read = std::from_chars(number.data(), end, *sequence);
  return isPageId(*page) && !number.empty() && read.ec == std::errc() && read.ptr == end;
}

void Connection::serveView(ViewOutput output, const RequestTarget &target) {
  RenderRequest render;
  if (const std::optional<QueryRefusal> refusal =
          viewRequest(target.query, output, server_.options.threads,
                      server_.options.maxSamples, &render))
    return answer(refusal->status, refusal->message);
  if (output == ViewOutput::kArguments) {
    std::string refusal;
    if (!checkPositionalSearch(render, {}, &refusal)) return answer(400, refusal);
    return answer(200, positionalLine(render.parameters.settings, render.parameters.texts));
  }
  const RenderCost cost = renderCostOf(render, output);
  if (cost.passes > server_.options.maxWork) {
    char passes[64], most[64];
    std::snprintf(passes, sizeof passes, "%.0f", cost.passes);
    std::snprintf(most, sizeof most, "%.0f", server_.options.maxWork);
    // Led by the options that make it, which the page marks.
    std::string message = "--size, --coarse, --fine, --iterations";
    if (render.parameters.supersample > 1) message += ", --supersample";
    const bool nearest = render.parameters.search == DepthSearch::kNearest;
    if (nearest) message += ", --search";
    message.append(": this view may take up to ").append(passes);
    message.append(" iteration passes (samples x (coarse + fine) x iterations");
    if (nearest) message.append(" x 4 for the nearest search");
    message.append(", and the normals, occlusion or EXR rows it needs), more than this "
                   "server's --max-work (");
    return answer(413, message.append(most).append(")"));
  }
  std::string page;
  uint64_t sequence = 0;
  if (!pageRequest(target, &page, &sequence))
    return answer(400,
                  "give page (1 to 64 letters, digits, - or _) and seq (a whole "
                  "number from 0) together");
  Supersession::StopFlag stop = server_.renders.begin(page, sequence);
  if (!stop) {
    if (server_.stopping) return answer(503, "the server is stopping", true);
    return answer(409, "superseded by a newer request");
  }
  if (server_.memoryInFlight + cost.memoryBytes > server_.options.maxRenderMemory ||
      server_.rendersWaiting() >= kMostWaitingRenders) {
    server_.renders.end(page, sequence);
    return answer(503, "the server is busy with other renders: try again shortly", false,
                  kRetryAfterSeconds);
  }
  PendingRender pending;
  viewOptions(target.query, output, server_.options.threads, &pending.arguments);
  pending.output = output;
  pending.page = std::move(page);
  pending.sequence = sequence;
  pending.stop = std::move(stop);
  pending.memoryBytes = cost.memoryBytes;
  render_ = std::move(pending);
  server_.memoryInFlight += cost.memoryBytes;
  // Places of renders that ended while waiting are kept until they reach
  // the front; clear them out before they pile up.
  if (server_.waiting.size() >= 2 * kMostWaitingRenders)
    std::erase_if(server_.waiting, [](const auto &weak) { return weak.expired(); });
  server_.waiting.push_back(weak_from_this());
  watch();
  server_.schedule();
}

void Connection::runRender() {
  std::string error;
  render_->process = RenderProcess::start(server_.options.renderProgram,
                                          render_->arguments, &error);
  if (!render_->process) {
    endRender();
    return answer(503, error, false, kRetryAfterSeconds);
  }
  ++server_.rendersRunning;
  beast::error_code failed;
  renderEnded_.assign(dup(render_->process->endedFd()), failed);
  if (failed) {
    endRender();
    return answer(500, "cannot watch the render: " + failed.message());
  }
  renderEnded_.async_wait(net::posix::stream_descriptor::wait_read,
                          [self = shared_from_this()](beast::error_code waited) {
                            if (!waited) self->onRenderEnded();
                          });
}

void Connection::onRenderEnded() {
  if (!render_ || !render_->process) return;
  const std::optional<int> status = render_->process->reap();
  if (!status) {
    endRender();
    return answer(500, "the render could not be waited for");
  }
  const ViewOutput output = render_->output;
  if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
    const std::string message = renderMessage(render_->process->errorText());
    const bool outOfMemory = WIFEXITED(*status) && WEXITSTATUS(*status) == 1;
    endRender();
    if (outOfMemory) return answer(503, message, false, kRetryAfterSeconds);
    return answer(500, WIFSIGNALED(*status)
                           ? "the render ended by signal " + std::to_string(WTERMSIG(*status))
                           : message);
  }
  beast::file_posix file;
  file.native_handle(render_->process->takeOutput().release());
  http::response<http::file_body> response{http::status::ok, 11};
  beast::error_code error;
  response.body().reset(std::move(file), error);
  // Until it is written, the answer holds its own bytes; the render's
  // working memory went with its process.
  answerMemoryBytes_ = static_cast<int64_t>(response.body().size());
  server_.memoryInFlight += answerMemoryBytes_;
  endRender();
  if (error) return answer(500, "cannot read the render: " + error.message());
  response.set(http::field::content_type, contentTypeOf(output));
  send(std::move(response), false);
}

// Ends the render, running or waiting, and gives back what it held.
void Connection::endRender() {
  if (!render_) return;
  server_.renders.end(render_->page, render_->sequence);
  server_.memoryInFlight -= render_->memoryBytes;
  if (render_->process) --server_.rendersRunning;
  render_.reset();  // kills the process if it runs
  beast::error_code ignored;
  watchTimer_.cancel();
  renderEnded_.close(ignored);
  // Not from inside a call that a schedule may have made.
  if (!server_.destroying) net::post(server_.io, [&server = server_] { server.schedule(); });
}

// A client that closed its end of the connection has gone; one that sent
// more bytes is still there.
bool Connection::clientLeft() {
  pollfd watched{stream_.socket().native_handle(), POLLIN | POLLRDHUP, 0};
  if (poll(&watched, 1, 0) <= 0) return false;
  if (watched.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) return true;
  char byte;
  return recv(watched.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void Connection::watch() {
  if (!render_) return;
  if (render_->stop->load()) {
    endRender();
    if (server_.stopping) return answer(503, "the server is stopping", true);
    return answer(409, "superseded by a newer request");
  }
  if (clientLeft()) {
    endRender();
    return closeNow();
  }
  watchTimer_.expires_after(kWatchInterval);
  watchTimer_.async_wait([self = shared_from_this()](beast::error_code error) {
    if (!error) self->watch();
  });
}

void Connection::answer(int status, const std::string &message, bool close,
                        const char *retryAfter) {
  http::response<http::string_body> response{static_cast<http::status>(status), 11};
  response.set(http::field::content_type, "text/plain; charset=utf-8");
  if (status == 405) response.set(http::field::allow, "GET, HEAD");
  if (retryAfter) response.set(http::field::retry_after, retryAfter);
  // Quoted input is escaped already; this keeps any other byte that is not
  // printable ASCII (a library's message quoting a value) out too.
  response.body() = shownText(message, message.size()) + "\n";
  send(std::move(response), close);
}

template <class Body>
void Connection::send(http::response<Body> &&response, bool close) {
  const bool keepAlive = keepAlive_ && !close && !server_.stopping;
  response.keep_alive(keepAlive);
  response.set(http::field::cache_control, "no-cache");
  response.set("X-Content-Type-Options", "nosniff");
  response.set("Content-Security-Policy",
               "default-src 'self'; img-src 'self' blob: data:; frame-ancestors 'none'");
  // Another site's page may not even show these pictures.
  response.set("Cross-Origin-Resource-Policy", "same-origin");
  response.prepare_payload();
  writing_ = true;
  stream_.expires_after(kWriteTimeout);
  auto done = [self = shared_from_this(), keepAlive](beast::error_code error, size_t) {
    self->writing_ = false;
    self->releaseAnswerMemory();
    if (error || !keepAlive) return self->closeNow();
    self->readRequest();
  };
  if (head_) {
    // The header as GET would have it, Content-Length included.
    auto header = std::make_shared<http::response<http::empty_body>>(std::move(response.base()));
    return http::async_write(stream_, *header,
                             [header, done](beast::error_code error, size_t n) { done(error, n); });
  }
  auto kept = std::make_shared<http::response<Body>>(std::move(response));
  http::async_write(stream_, *kept,
                    [kept, done](beast::error_code error, size_t n) { done(error, n); });
}

}  // namespace

void ExploreServer::State::accept() {
  acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
    if (stopping) return;
    if (error) {
      // Out of descriptors, say: try again shortly rather than spin.
      retryAccept.expires_after(std::chrono::milliseconds(100));
      retryAccept.async_wait([this](beast::error_code e) {
        if (!e) accept();
      });
      return;
    }
    // At the most connections, the one idle longest makes room: one
    // client's idle connections cannot lock every other client out.
    if (connections.size() < kMostConnections || dropOldestIdle()) {
      // An answer's header and body go out in separate writes: without
      // this, the body waits for the client's delayed acknowledgement.
      beast::error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      std::make_shared<Connection>(std::move(socket), *this)->start();
    }
    accept();  // a connection past the most is closed with its socket here
  });
}

bool ExploreServer::State::dropOldestIdle() {
  for (auto it = connections.rbegin(); it != connections.rend(); ++it) {
    if (!(*it)->idle()) continue;
    (*it)->drop();
    return true;
  }
  return false;
}

size_t ExploreServer::State::rendersWaiting() const {
  return static_cast<size_t>(std::count_if(connections.begin(), connections.end(),
                                           [](const Connection *c) { return c->waitsForWorker(); }));
}

void ExploreServer::State::schedule() {
  while (rendersRunning < renderWorkers && !waiting.empty()) {
    const std::shared_ptr<Connection> next = waiting.front().lock();
    waiting.pop_front();
    if (next && next->waitsForWorker()) next->runRender();
  }
  // Renders that ended while waiting leave their places behind.
  while (!waiting.empty() && waiting.front().expired()) waiting.pop_front();
}

void ExploreServer::State::beginStop() {
  if (stopping) return;
  stopping = true;
  renders.stopAll();
  beast::error_code ignored;
  acceptor.close(ignored);
  retryAccept.cancel();
  std::vector<std::weak_ptr<Connection>> open;
  for (Connection *connection : connections) open.push_back(connection->weak_from_this());
  for (const std::weak_ptr<Connection> &weak : open)
    if (const std::shared_ptr<Connection> connection = weak.lock())
      connection->serverStopping();
  waitForAnswers(std::chrono::steady_clock::now() + kStopGrace);
}

// Serving ends once the last answer is written, or at the deadline.
void ExploreServer::State::waitForAnswers(std::chrono::steady_clock::time_point deadline) {
  if (connections.empty() || std::chrono::steady_clock::now() >= deadline) return io.stop();
  stopTimer.expires_after(std::chrono::milliseconds(10));
  stopTimer.async_wait([this, deadline](beast::error_code) { waitForAnswers(deadline); });
}

ExploreServer::ExploreServer(ExploreOptions options)
    : state_(std::make_unique<State>()) {
  State &s = *state_;
  s.options = std::move(options);
  s.options.listenAddress = plainListenAddress(s.options.listenAddress);
  if (s.options.renderProgram.empty())
    s.options.renderProgram = programBesideThisOne("quatdepth-render");
  s.renderWorkers = s.options.renderWorkers > 0
                        ? s.options.renderWorkers
                        : static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  if (s.options.maxRenderMemory <= 0) {
    RenderRequest largest;
    largest.parameters.settings.width = 1;
    largest.parameters.settings.height =
        static_cast<int32_t>(std::min<int64_t>(s.options.maxSamples, INT32_MAX));
    largest.parameters.occlusion = true;
    s.options.maxRenderMemory =
        std::max(physicalMemoryBytes() / 4, renderCostOf(largest, ViewOutput::kPng).memoryBytes);
  }
  for (size_t i = 0; i < kPageAssetCount; ++i)
    if (std::string_view(kPageAssets[i].path) == "/index.html")
      s.indexPage = pageWithView(std::string(kPageAssets[i].bytes), s.options.startView);
  // Idle connections cost a descriptor each and nothing more: allow many.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

ExploreServer::~ExploreServer() = default;

bool ExploreServer::bind(std::string *error) {
  State &s = *state_;
  const std::string shown = addressWithPort(s.options.listenAddress, s.options.port);
  if (access(s.options.renderProgram.c_str(), X_OK) != 0) {
    *error = "cannot run " + s.options.renderProgram +
             ", which renders every view: install it beside quatdepth-explore";
    return false;
  }
  beast::error_code failed;
  const net::ip::address address = net::ip::make_address(s.options.listenAddress, failed);
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(s.options.port));
  if (!failed) s.acceptor.open(endpoint.protocol(), failed);
  // Without SO_REUSEPORT: a second server on a port in use fails instead
  // of sharing its connections.
  if (!failed) s.acceptor.set_option(net::socket_base::reuse_address(true), failed);
  if (!failed) s.acceptor.bind(endpoint, failed);
  if (!failed) s.acceptor.listen(net::socket_base::max_listen_connections, failed);
  if (failed) {
    *error = "cannot listen on " + shown + ": " + failed.message();
    return false;
  }
  s.port = s.acceptor.local_endpoint().port();
  return true;
}

const std::string &ExploreServer::listenAddress() const {
  return state_->options.listenAddress;
}

std::string ExploreServer::url() const {
  return "http://" + urlHost(state_->options.listenAddress) + ":" +
         std::to_string(state_->port) + "/";
}

int ExploreServer::port() const { return state_->port; }

bool ExploreServer::serve() {
  State &s = *state_;
  s.accept();
  try {
    s.io.run();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "quatdepth-explore: %s\n", e.what());
    return false;
  }
  return true;
}

void ExploreServer::stop() {
  net::post(state_->io, [state = state_.get()] { state->beginStop(); });
}

}  // namespace quatdepth
