#include "nginx_server.hpp"

#include "support/temp_dir.hpp"

#include <functional>
#include <sstream>
#include <unistd.h>

namespace orvanta::e2e {

Nginx::Nginx(std::string workDirectory, std::string siteRoot, std::string certPath,
             std::string keyPath, int port)
    : workDirectory_(std::move(workDirectory)), siteRoot_(std::move(siteRoot)),
      certPath_(std::move(certPath)), keyPath_(std::move(keyPath)), port_(port) {}

Nginx::~Nginx() {
    stop();
}

std::string Nginx::start() {
    stop();
    if (portAccepts(port_)) {
        return "port " + std::to_string(port_) +
               " on 127.0.0.1 is already in use; configure another with -DORVANTA_E2E_PORT";
    }
    const std::string& dir = workDirectory_;
    std::ostringstream conf;
    conf << "daemon off;\nmaster_process on;\nworker_processes 1;\n"
         << "pid " << dir << "/nginx.pid;\nerror_log " << dir << "/error.log info;\n";
    if (geteuid() == 0) {
        // Workers would otherwise drop to "nobody", who cannot enter the private temp folders.
        conf << "user root;\n";
    }
    conf
        << "events { worker_connections 64; }\n"
        << "http {\n"
        // The combined format with the Range header, to tell what each ranged GET asked for.
        << "  log_format ranges '$remote_addr - $remote_user [$time_local] \"$request\" $status '\n"
        << "    '$body_bytes_sent \"$http_referer\" \"$http_user_agent\" \"$http_range\"';\n"
        << "  access_log " << dir << "/access.log ranges;\n"
        << "  client_body_temp_path " << dir << "/client_body;\n";
    // Every module compiled in wants its temp folder, and the default ones may not be writable.
    const std::string features = runProgram({ORVANTA_E2E_NGINX, "-V"}).output;
    for (const char* module : {"proxy", "fastcgi", "uwsgi", "scgi"}) {
        if (features.find(std::string("--without-http_") + module) == std::string::npos) {
            conf << "  " << module << "_temp_path " << dir << "/" << module << ";\n";
        }
    }
    conf << "  types { application/json json; }\n"
         << "  default_type application/octet-stream;\n";
    if (!servers_.empty()) {
        conf << servers_ << "\n";
    } else {
        conf << "  server {\n"
             << "    listen 127.0.0.1:" << port_ << " ssl;\n"
             << "    ssl_certificate " << certPath_ << ";\n"
             << "    ssl_certificate_key " << keyPath_ << ";\n"
             << "    root " << siteRoot_ << ";\n"
             << (oneRange_ ? "    max_ranges 1;\n" : "");
        if (!packRate_.empty()) {
            conf << "    location ~ \\.pack$ { limit_rate " << packRate_ << "; }\n";
        }
        conf << "  }\n";
    }
    conf << "}\n";
    test::writeFile(dir + "/nginx.conf", conf.str());

    server_.emplace(std::vector<std::string>{ORVANTA_E2E_NGINX, "-p", dir, "-c",
                                             dir + "/nginx.conf", "-e", dir + "/error.log"},
                    dir, EnvChanges{}, dir + "/nginx.out");
    const bool up =
        waitUntil([&] { return portAccepts(port_) || !server_->running(); }, 15000ms, 50ms);
    if (!up || !server_->running()) {
        std::string why = test::readFile(dir + "/nginx.out") + test::readFile(dir + "/error.log");
        server_.reset();
        return "nginx did not start: " + why;
    }
    return {};
}

void Nginx::stop() {
    if (server_) {
        server_->stop();
        server_.reset();
    }
}

std::string Nginx::accessLog() const {
    return test::readFile(workDirectory_ + "/access.log");
}

namespace {

// Calls take(the status and size text after the request line) for every access log line whose
// request line contains text.
void forRequests(const std::string& log, const std::string& text,
                 const std::function<void(std::istringstream&)>& take) {
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        const auto start = line.find('"');
        const auto end = line.find('"', start + 1);
        if (start != std::string::npos && end != std::string::npos &&
            line.substr(start, end - start).find(text) != std::string::npos) {
            std::istringstream rest(line.substr(end + 1));
            take(rest);
        }
    }
}

} // namespace

int Nginx::requestsFor(const std::string& text) const {
    int count = 0;
    forRequests(accessLog(), text, [&](std::istringstream&) { ++count; });
    return count;
}

std::uint64_t Nginx::bytesSentFor(const std::string& text) const {
    std::uint64_t sum = 0;
    forRequests(accessLog(), text, [&](std::istringstream& rest) {
        int status = 0;
        std::uint64_t bytes = 0;
        if (rest >> status >> bytes) {
            sum += bytes;
        }
    });
    return sum;
}

} // namespace orvanta::e2e
