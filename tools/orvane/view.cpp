// orvane view: serves the viewer page (web/, built by `./build.sh web`) with a content file on
// 127.0.0.1 and prints the address to open in a browser. A small HTTP/1.0 server: GET and HEAD
// of the page's own files and of the content file, one request at a time, until interrupted
// (or after --requests requests).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "tool.h"

namespace orvane_tool {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void Stop(int) {
    g_stop = 1;
}

// Where `./build.sh web` puts the page, unless --site or ORVANE_VIEWER_DIR says otherwise.
std::string DefaultSite() {
    if (const char* site = std::getenv("ORVANE_VIEWER_DIR"); site && *site) return site;
#ifdef ORVANE_VIEWER_SITE
    return ORVANE_VIEWER_SITE;
#else
    return "build-web/web";
#endif
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* ContentType(const std::string& path) {
    struct Kind {
        const char* ending;
        const char* type;
    };
    static const Kind kinds[] = {{".html", "text/html; charset=utf-8"},
                                 {".js", "text/javascript; charset=utf-8"},
                                 {".wasm", "application/wasm"},
                                 {".png", "image/png"},
                                 {".css", "text/css; charset=utf-8"}};
    for (const Kind& kind : kinds) {
        const size_t n = std::strlen(kind.ending);
        if (path.size() >= n && path.compare(path.size() - n, n, kind.ending) == 0)
            return kind.type;
    }
    return "application/octet-stream";
}

// A name of the page's own files: letters, digits, '_', '-', '.', and one level of folder
// ("data/orvane_demo.ovn"); nothing that climbs out ("..") or starts with a dot.
bool IsSiteName(const std::string& name) {
    if (name.empty() || name[0] == '.' || name.size() > 200) return false;
    int slashes = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '/') {
            if (++slashes > 1 || i + 1 == name.size() || name[i + 1] == '.') return false;
            continue;
        }
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!plain) return false;
    }
    return true;
}

bool ReadWhole(const std::string& path, std::string* bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size > kLargestContentFile) {
        std::fclose(file);
        return false;
    }
    bytes->resize(static_cast<size_t>(info.st_size));
    const size_t got = bytes->empty() ? 0 : std::fread(&(*bytes)[0], 1, bytes->size(), file);
    std::fclose(file);
    return got == bytes->size();
}

bool SendAll(int socket, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = send(socket, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

// The page is isolated from other origins (it loads nothing from them), which lets the browser
// give it a finer clock: the library's timing blocks read it.
void Respond(int socket, int status, const char* reason, const char* type, const std::string& body,
             bool withBody) {
    char head[512];
    const int n = std::snprintf(head, sizeof head,
                                "HTTP/1.0 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
                                "Cache-Control: no-store\r\nConnection: close\r\n"
                                "Cross-Origin-Opener-Policy: same-origin\r\n"
                                "Cross-Origin-Embedder-Policy: require-corp\r\n\r\n",
                                status, reason, type, body.size());
    if (n > 0 && SendAll(socket, head, static_cast<size_t>(n)) && withBody)
        SendAll(socket, body.data(), body.size());
}

// Reads the request head (at most 8 KB, 5 s) and answers it.
void Serve(int socket, const std::string& site, const std::string& content,
           const std::string& contentName) {
    timeval timeout{5, 0};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 8192) {
        const ssize_t got = recv(socket, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        request.append(buffer, static_cast<size_t>(got));
    }
    const size_t lineEnd = request.find("\r\n");
    const std::string line = request.substr(0, lineEnd == std::string::npos ? 0 : lineEnd);
    const size_t space = line.find(' ');
    const size_t space2 = space == std::string::npos ? space : line.find(' ', space + 1);
    if (space2 == std::string::npos) {
        Respond(socket, 400, "Bad Request", "text/plain", "bad request\n", true);
        return;
    }
    const std::string method = line.substr(0, space);
    std::string target = line.substr(space + 1, space2 - space - 1);
    if (method != "GET" && method != "HEAD") {
        Respond(socket, 405, "Method Not Allowed", "text/plain", "GET or HEAD only\n", true);
        return;
    }
    const bool body = method == "GET";
    if (const size_t query = target.find('?'); query != std::string::npos) target.resize(query);
    if (target == "/") target = "/index.html";
    std::string bytes;
    const std::string name = target.substr(1);
    if (name == "content/" + contentName) {
        if (ReadWhole(content, &bytes)) {
            Respond(socket, 200, "OK", ContentType(name), bytes, body);
            return;
        }
    } else if (target[0] == '/' && IsSiteName(name) && ReadWhole(site + "/" + name, &bytes)) {
        Respond(socket, 200, "OK", ContentType(name), bytes, body);
        return;
    }
    Respond(socket, 404, "Not Found", "text/plain", "not found\n", body);
}

struct Arguments {
    std::string file, site;
    int port = 0;
    int requests = 0;
};

int RunView(const Arguments& arguments) {
    std::string problem;
    if (!CheckInput(arguments.file, &problem, kLargestContentFile))
        return Fail("view: %s", problem.c_str());
    const std::string site = arguments.site.empty() ? DefaultSite() : arguments.site;
    struct stat info {};
    if (stat((site + "/index.html").c_str(), &info) != 0 ||
        stat((site + "/orvane_viewer.wasm").c_str(), &info) != 0)
        return Fail(
            "view: the viewer is not built in %s (run ./build.sh web, or name its folder "
            "with --site)",
            site.c_str());
    if (arguments.port < 0 || arguments.port > 65535)
        return Fail("view: --port %d is not a port (0 to 65535)", arguments.port);

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0) return Fail("view: cannot open a socket: %s", SystemReason(errno).c_str());
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(arguments.port));
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        close(listener);
        return Fail("view: cannot listen on 127.0.0.1:%d: %s", arguments.port,
                    SystemReason(error).c_str());
    }

    // The content file is served under its own name, so that the page shows it.
    std::string contentName = BaseName(arguments.file);
    if (!IsSiteName(contentName) || contentName.find('/') != std::string::npos)
        contentName = "content.ovn";
    std::printf("http://127.0.0.1:%d/?file=content/%s\n", ntohs(address.sin_port),
                contentName.c_str());
    std::fflush(stdout);
    Say("serving %s and the viewer in %s; interrupt (Ctrl-C) to stop", arguments.file.c_str(),
        site.c_str());

    struct sigaction action {};
    action.sa_handler = Stop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    int served = 0;
    while (!g_stop && (arguments.requests <= 0 || served < arguments.requests)) {
        pollfd wait{listener, POLLIN, 0};
        const int ready = poll(&wait, 1, 500);
        if (ready <= 0) continue;
        const int client = accept(listener, nullptr, nullptr);
        if (client < 0) continue;
        Serve(client, site, arguments.file, contentName);
        close(client);
        ++served;
    }
    close(listener);
    return 0;
}

}  // namespace

Command AddViewCommand(CLI::App& tool) {
    auto arguments = std::make_shared<Arguments>();
    CLI::App* app = tool.add_subcommand(
        "view",
        "Shows FILE in the viewer page: serves the page (built by ./build.sh web) and FILE on "
        "127.0.0.1 and prints the address to open in a browser; Ctrl-C stops it.");
    app->add_option("FILE", arguments->file, "the content file (.ovn) to show")->required();
    app->add_option("-p,--port", arguments->port, "the port to listen on (0: any free one)");
    app->add_option(
        "--site", arguments->site,
        "the folder of the built page (default: $ORVANE_VIEWER_DIR, else " + DefaultSite() + ")");
    app->add_option("--requests", arguments->requests,
                    "stop after this many requests (0: serve until interrupted)");
    return {app, [arguments] { return RunView(*arguments); }};
}

}  // namespace orvane_tool
