#include "cdn_edge.hpp"

#include "support/temp_dir.hpp"

#include <arpa/inet.h>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace orvanta::e2e {

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

} // namespace

OriginServer originFromSample(const std::string& sample, const std::string& siteRoot, int port) {
    std::string text;
    std::istringstream lines(sample);
    for (std::string line; std::getline(lines, line);) {
        text += line.substr(0, line.find('#')) + "\n";
    }
    // The first "server" word followed by its block's brace.
    std::size_t open = std::string::npos;
    for (std::size_t at = text.find("server"); at != std::string::npos && open == std::string::npos;
         at = text.find("server", at + 1)) {
        const std::size_t brace = text.find_first_not_of(" \t\n", at + 6);
        if ((at == 0 || std::isspace(static_cast<unsigned char>(text[at - 1]))) &&
            brace != std::string::npos && text[brace] == '{') {
            open = brace;
        }
    }
    if (open == std::string::npos) {
        return {"", "no server block in the sample"};
    }
    std::size_t close = open;
    for (int depth = 0; close < text.size(); ++close) {
        depth += text[close] == '{' ? 1 : text[close] == '}' ? -1 : 0;
        if (depth == 0) {
            break;
        }
    }
    if (close >= text.size()) {
        return {"", "the sample's first server block does not end"};
    }
    // The address, name and certificates are the test's; everything else is served as written.
    std::ostringstream server;
    server << "server {\n    listen 127.0.0.1:" << port << ";\n";
    int roots = 0;
    std::istringstream body(text.substr(open + 1, close - open - 1));
    for (std::string line; std::getline(body, line);) {
        const std::size_t first = line.find_first_not_of(" \t");
        const std::string directive = first == std::string::npos ? "" : line.substr(first);
        if (directive.empty() || startsWith(directive, "listen") || startsWith(directive, "ssl_") ||
            startsWith(directive, "server_name")) {
            continue;
        }
        if (startsWith(directive, "root ")) {
            ++roots;
            server << "    root " << siteRoot << ";\n";
        } else {
            server << line << "\n";
        }
    }
    server << "}\n";
    if (roots != 1) {
        return {"", "the sample's first server block has " + std::to_string(roots) +
                        " root lines, not one"};
    }
    return {server.str(), ""};
}

std::string tlsFrontServer(const std::string& certPath, const std::string& keyPath, int port,
                           int edgePort, bool resetPacks) {
    std::ostringstream server;
    server << "server {\n"
           << "    listen 127.0.0.1:" << port << " ssl;\n"
           << "    ssl_certificate " << certPath << ";\n"
           << "    ssl_certificate_key " << keyPath
           << ";\n"
           // The cache's answers reach the launcher as the cache gave them: nginx cuts no ranges
           // of its own from a whole file.
           << "    max_ranges 0;\n"
           << "    location / {\n"
           << "        proxy_pass http://127.0.0.1:" << edgePort << ";\n"
           << "        proxy_http_version 1.1;\n"
           << "        proxy_set_header Connection \"\";\n"
           << "        proxy_buffering off;\n"
           << "    }\n";
    if (resetPacks) {
        // 444: nginx closes the connection without an answer.
        server << "    location ~ \\.pack$ {\n        return 444;\n    }\n";
    }
    server << "}\n";
    return server.str();
}

Varnish::Varnish(std::string workDirectory, int port, int originPort)
    : workDirectory_(std::move(workDirectory)), port_(port), originPort_(originPort) {}

Varnish::~Varnish() {
    stop();
}

std::string Varnish::start() {
    stop();
    if (portAccepts(port_)) {
        return "port " + std::to_string(port_) + " on 127.0.0.1 is already in use";
    }
    const std::string& dir = workDirectory_;
    // Varnish's built-in rules do the rest: an answer is kept as long as its Cache-Control allows
    // (no-cache ones not at all), fetched whole, and ranges are cut from the copy.
    std::ostringstream vcl;
    vcl << "vcl 4.1;\n\nbackend origin {\n    .host = \"127.0.0.1\";\n    .port = \"" << originPort_
        << "\";\n}\n";
    if (!heldFile_.empty()) {
        vcl << "\nsub vcl_backend_response {\n"
            << "    if (bereq.url == \"/orvanta-downloads/" << heldFile_ << "\") {\n"
            << "        set beresp.ttl = " << heldFor_.count() << "s;\n"
            << "        set beresp.grace = 0s;\n"
            << "        return (deliver);\n"
            << "    }\n"
            << "}\n";
    }
    test::writeFile(dir + "/edge.vcl", vcl.str());
    std::error_code ignored;
    std::filesystem::remove_all(dir + "/state", ignored);
    const std::string address = "127.0.0.1:" + std::to_string(port_);
    std::vector<std::string> argv = {
        ORVANTA_E2E_VARNISHD, "-F", "-n", dir + "/state", "-a", address, "-f", dir + "/edge.vcl"};
    // No jail, so it runs as whoever runs the test; no management port.
    argv.insert(argv.end(), {"-s", "malloc,64m", "-j", "none", "-T", "none"});
    // Few threads and a small log, as little is asked of it. Answers without Cache-Control keep
    // Varnish's default lifetime, as a CDN's would: a manifest served without no-cache goes stale.
    argv.insert(argv.end(),
                {"-p", "thread_pools=1", "-p", "thread_pool_min=10", "-p", "vsl_space=4m"});
    server_.emplace(argv, dir, EnvChanges{}, dir + "/varnishd.log");
    // The configuration is compiled first; the child says so once it serves.
    const bool up = waitUntil(
        [&] {
            return output().find("said Child starts") != std::string::npos || !server_->running();
        },
        60000ms, 100ms);
    if (!up || !server_->running() || !waitUntil([&] { return portAccepts(port_); }, 10000ms)) {
        const std::string why = output();
        server_.reset();
        return "varnishd did not start: " + why;
    }
    return {};
}

void Varnish::stop() {
    if (server_) {
        server_->stop();
        server_.reset();
    }
}

std::string Varnish::output() const {
    return test::readFile(workDirectory_ + "/varnishd.log");
}

PlainAnswer plainGet(int port, const std::string& path) {
    PlainAnswer answer;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return answer;
    }
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string received;
    // The Host nginx's proxy_pass sends, so a cache finds the copies the launcher's requests made.
    const std::string request =
        "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[16384];
        for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            received.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    const std::size_t headersEnd = received.find("\r\n\r\n");
    if (startsWith(received, "HTTP/1.") && received.size() > 12 &&
        headersEnd != std::string::npos) {
        answer.status = std::atoi(received.substr(9, 3).c_str());
        answer.body = received.substr(headersEnd + 4);
    }
    return answer;
}

} // namespace orvanta::e2e
