#include "explore/explore_server.h"

#include <httplib.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "explore/host_check.h"
#include "explore/page_assets.h"
#include "explore/supersession.h"
#include "explore/view_query.h"
#include "image/row_merge.h"
#include "render/frame_output.h"
#include "render/positional_arguments.h"

namespace quatdepth {
namespace {

// A FILE that writes into memory, freed with it.
class MemoryStream {
 public:
  MemoryStream() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryStream() {
    if (file_) std::fclose(file_);
    std::free(data_);
  }
  MemoryStream(const MemoryStream &) = delete;
  MemoryStream &operator=(const MemoryStream &) = delete;

  FILE *file() const { return file_; }

  // Everything written, once the stream is closed; false when it failed.
  bool close(std::string *bytes) {
    const bool closed = file_ && std::fclose(file_) == 0;
    file_ = nullptr;
    if (closed) bytes->assign(data_, size_);
    return closed;
  }

 private:
  char *data_ = nullptr;
  size_t size_ = 0;
  FILE *file_;
};

void answer(httplib::Response &response, int status,
            const std::string &message) {
  response.status = status;
  response.set_content(message + "\n", "text/plain; charset=utf-8");
}

// A page's id: short, and plain enough to show in a message.
bool isPageId(const std::string &id) {
  if (id.empty() || id.size() > 64) return false;
  for (const char c : id)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'))
      return false;
  return true;
}

std::string jsonString(const std::string &text);

// The page, the view it starts from put in as a JSON object of strings.
std::string pageWithView(
    std::string page,
    const std::vector<std::pair<std::string, std::string>> &view) {
  std::string json = "{";
  for (const auto &[key, value] : view) {
    if (json.size() > 1) json += ',';
    json += jsonString(key);
    json += ':';
    json += jsonString(value);
  }
  json += "}";
  const std::string slot = "__START_VIEW__";
  const size_t at = page.find(slot);
  if (at != std::string::npos) page.replace(at, slot.size(), json);
  return page;
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

const char *contentTypeOf(ViewOutput output) {
  switch (output) {
    case ViewOutput::kPng: return "image/png";
    case ViewOutput::kExr: return "image/x-exr";
    case ViewOutput::kRows: return "application/octet-stream";
    case ViewOutput::kArguments: break;
  }
  return "text/plain; charset=utf-8";
}

}  // namespace

struct ExploreServer::State {
  ExploreOptions options;
  httplib::Server server;
  Supersession renders;
  std::atomic<uint64_t> anonymous{0};  // requests of no page, numbered
  int port = 0;
  std::string indexPage;  // with the start view in it

  void routes();
  // A render that a newer one of its page, or the server's end, stopped.
  void stopped(httplib::Response &response) {
    if (renders.stopped())
      answer(response, 503, "the server is stopping");
    else
      answer(response, 409, "superseded by a newer request");
  }
  // Which page a request is of, and its number there: a page numbers its
  // requests, and any other request is a page of its own. False when the
  // two are malformed or one comes without the other.
  bool pageRequest(const httplib::Request &, std::string *page,
                   uint64_t *sequence);
  void servePage(const httplib::Request &, httplib::Response &) const;
  void serveView(const httplib::Request &, httplib::Response &,
                 ViewOutput output);
};

bool ExploreServer::State::pageRequest(const httplib::Request &request,
                                       std::string *page, uint64_t *sequence) {
  if (!request.has_param(kPageKey) && !request.has_param(kSequenceKey)) {
    page->assign(1, '~');
    page->append(std::to_string(anonymous.fetch_add(1)));
    *sequence = 0;
    return true;
  }
  *page = request.get_param_value(kPageKey);
  const std::string number = request.get_param_value(kSequenceKey);
  const char *end = number.data() + number.size();
  const auto read = std::from_chars(number.data(), end, *sequence);
  return isPageId(*page) && !number.empty() && read.ec == std::errc() &&
         read.ptr == end;
}

void ExploreServer::State::servePage(const httplib::Request &request,
                                     httplib::Response &response) const {
  const std::string path = request.path == "/" ? "/index.html" : request.path;
  for (size_t i = 0; i < kPageAssetCount; ++i) {
    const PageAsset &asset = kPageAssets[i];
    if (path != asset.path) continue;
    response.set_header("Cache-Control", "no-cache");
    response.set_content(path == "/index.html" ? indexPage
                                               : std::string(asset.bytes),
                         asset.contentType);
    return;
  }
  answer(response, 404, "not found: " + request.path);
}

void ExploreServer::State::serveView(const httplib::Request &request,
                                     httplib::Response &response,
                                     ViewOutput output) {
  RenderRequest render;
  if (const std::optional<QueryRefusal> refusal =
          viewRequest(request.params, output, options.threads,
                      options.maxSamples, &render)) {
    answer(response, refusal->status, refusal->message);
    return;
  }
  if (output == ViewOutput::kArguments) {
    answer(response, 200, positionalLine(render.settings, render.realTexts));
    return;
  }
  std::string page;
  uint64_t sequence = 0;
  if (!pageRequest(request, &page, &sequence)) {
    answer(response, 400,
           "give page (1 to 64 letters, digits, - or _) and seq (a whole "
           "number from 0) together");
    return;
  }
  const Supersession::StopFlag stop = renders.begin(page, sequence);
  if (!stop) {
    stopped(response);
    return;
  }
  MergedRows samples;
  std::string error;
  bool rendered = false;
  try {
    rendered = renderFrameSamples(
        render, render.settings, &samples, [](int32_t) {}, &error, stop.get());
  } catch (const std::bad_alloc &) {
    error = "not enough memory for this view";
  }
  renders.end(page, sequence);
  if (!rendered) {
    if (stop->load()) stopped(response);
    else answer(response, 500, error);
    return;
  }
  MemoryStream stream;
  std::string bytes;
  if (!stream.file() ||
      !writeFrame(stream.file(), render, render.settings, render.realTexts,
                  samples, &error) ||
      !stream.close(&bytes)) {
    answer(response, 500, error.empty() ? "cannot encode the view" : error);
    return;
  }
  response.set_header("Cache-Control", "no-cache");
  response.set_content(std::move(bytes), contentTypeOf(output));
}

void ExploreServer::State::routes() {
  server.set_pre_routing_handler(
      [this](const httplib::Request &request, httplib::Response &response) {
        // Two Host headers could name two servers: neither is taken.
        if (request.get_header_value_count("Host") == 1 &&
            hostNamesServer(request.get_header_value("Host"),
                            options.listenAddress, port))
          return httplib::Server::HandlerResponse::Unhandled;
        answer(response, 403,
               "this server answers only requests for " +
                   urlHost(options.listenAddress) + ":" +
                   std::to_string(port));
        return httplib::Server::HandlerResponse::Handled;
      });
  server.set_post_routing_handler(
      [](const httplib::Request &, httplib::Response &response) {
        response.set_header("X-Content-Type-Options", "nosniff");
        response.set_header("Content-Security-Policy",
                            "default-src 'self'; img-src 'self' blob: data:; "
                            "frame-ancestors 'none'");
      });
  const struct {
    const char *path;
    ViewOutput output;
  } views[] = {{"/image.png", ViewOutput::kPng},
               {"/rows", ViewOutput::kRows},
               {"/depth.exr", ViewOutput::kExr},
               {"/args", ViewOutput::kArguments}};
  for (const auto &view : views) {
    const ViewOutput output = view.output;
    server.Get(view.path, [this, output](const httplib::Request &request,
                                         httplib::Response &response) {
      serveView(request, response, output);
    });
  }
  server.Get(R"(/[^/]*)", [this](const httplib::Request &request,
                                 httplib::Response &response) {
    servePage(request, response);
  });
  const auto refuse = [](const httplib::Request &, httplib::Response &response) {
    response.set_header("Allow", "GET, HEAD");
    answer(response, 405, "only GET and HEAD are answered");
  };
  server.Post(R"(.*)", refuse);
  server.Put(R"(.*)", refuse);
  server.Patch(R"(.*)", refuse);
  server.Delete(R"(.*)", refuse);
  server.Options(R"(.*)", refuse);
  server.set_error_handler(
      [](const httplib::Request &request, httplib::Response &response) {
        // Methods the router has no table for, or a POST without its
        // length, are refused here.
        const bool otherMethod = !request.method.empty() &&
                                 request.method != "GET" &&
                                 request.method != "HEAD";
        if (otherMethod && (response.status == 400 || response.status == 404)) {
          if (!response.has_header("Allow")) response.set_header("Allow", "GET, HEAD");
          answer(response, 405, "only GET and HEAD are answered");
        } else if (response.body.empty())
          answer(response, response.status,
                 response.status == 404 ? "not found: " + request.path
                                        : "cannot answer this request");
      });
}

ExploreServer::ExploreServer(ExploreOptions options)
    : state_(std::make_unique<State>()) {
  state_->options = std::move(options);
  for (size_t i = 0; i < kPageAssetCount; ++i)
    if (std::string_view(kPageAssets[i].path) == "/index.html")
      state_->indexPage = pageWithView(std::string(kPageAssets[i].bytes),
                                       state_->options.startView);
  httplib::Server &server = state_->server;
  // Without the library's SO_REUSEPORT: a second server on a port in use
  // fails instead of sharing its connections.
  server.set_socket_options([](socket_t socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // Requests carry no bodies; idle connections (a browser's) and slow
  // clients hold a thread each, so keep them short and have threads spare.
  server.set_payload_max_length(64 * 1024);
  server.set_keep_alive_timeout(2);
  server.new_task_queue = [] { return new httplib::ThreadPool(32); };
  state_->routes();
}

ExploreServer::~ExploreServer() = default;

bool ExploreServer::bind(std::string *error) {
  const std::string &address = state_->options.listenAddress;
  if (state_->options.port == 0) {
    state_->port = state_->server.bind_to_any_port(address);
  } else if (state_->server.bind_to_port(address, state_->options.port)) {
    state_->port = state_->options.port;
  }
  if (state_->port <= 0) {
    *error = "cannot listen on " + urlHost(address) + ":" +
             std::to_string(state_->options.port) +
             " (in use, or not an address of this machine)";
    return false;
  }
  return true;
}

std::string ExploreServer::url() const {
  return "http://" + urlHost(state_->options.listenAddress) + ":" +
         std::to_string(state_->port) + "/";
}

int ExploreServer::port() const { return state_->port; }

bool ExploreServer::serve() { return state_->server.listen_after_bind(); }

void ExploreServer::stop() {
  state_->renders.stopAll();
  state_->server.stop();
}

}  // namespace quatdepth
