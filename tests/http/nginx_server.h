// A private nginx on 127.0.0.1 for tests and benchmarks: its own config,
// document root and temp paths in a fresh folder, run in the foreground as a
// child process and stopped (by its process id) when the object goes away.
// Serves /misc/ip.php (the client's address as text/plain), static files of
// the root, and the same files chunked under /chunked/.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace quillon::test {

inline std::string ReadWholeFile(const std::string& path) {
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

class NginxServer {
 public:
  NginxServer() {
    char templ[] = "/tmp/quillon-nginx-XXXXXX";
    if (::mkdtemp(templ) == nullptr) return;
    dir_ = templ;
    ::chmod(dir_.c_str(), 0755);
    std::filesystem::create_directories(dir_ + "/www/misc");
    std::filesystem::create_directories(dir_ + "/tmp");
    WriteFile("empty.txt", "");
    port_ = PickPort();
    std::ofstream conf(dir_ + "/nginx.conf");
    conf << (::geteuid() == 0 ? "user root;\n" : "") << "master_process off;\n"
         << "worker_processes 1;\n"
         << "pid " << dir_ << "/nginx.pid;\n"
         << "error_log " << dir_ << "/error.log;\n"
         << "events { worker_connections 64; }\n"
         << "http {\n"
         << "  access_log off;\n"
         << "  client_body_temp_path " << dir_ << "/tmp/body;\n"
         << "  proxy_temp_path " << dir_ << "/tmp/proxy;\n"
         << "  fastcgi_temp_path " << dir_ << "/tmp/fastcgi;\n"
         << "  uwsgi_temp_path " << dir_ << "/tmp/uwsgi;\n"
         << "  scgi_temp_path " << dir_ << "/tmp/scgi;\n"
         << "  default_type application/octet-stream;\n"
         << "  sendfile on;\n"
         << "  keepalive_requests 1000;\n"
         << "  server {\n"
         << "    listen 127.0.0.1:" << port_ << ";\n"
         << "    root " << dir_ << "/www;\n"
         << "    location = /misc/ip.php { default_type text/plain; return 200 $remote_addr; }\n"
         // Appending an (empty) part after the body leaves the length unknown,
         // so nginx sends the file chunked.
         << "    location /chunked/ { alias " << dir_ << "/www/; addition_types *;"
         << " add_after_body /empty.txt; chunked_transfer_encoding on; }\n"
         << "  }\n"
         << "}\n";
    conf.close();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/usr/sbin/nginx", "nginx", "-p", dir_.c_str(), "-c", (dir_ + "/nginx.conf").c_str(),
              "-g", "daemon off;", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ready_ = pid_ > 0 && WaitReady();
  }

  ~NginxServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool ready() const { return ready_; }
  int port() const { return port_; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::string errorLog() const { return ReadWholeFile(dir_ + "/error.log"); }
  // A file of the document root (name relative to it).
  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(dir_ + "/www/" + name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  // `size` bytes of a fixed pseudo-random pattern, written in pieces.
  void WritePatternFile(const std::string& name, size_t size) const {
    std::ofstream out(dir_ + "/www/" + name, std::ios::binary);
    std::string block(1 << 20, '\0');
    uint32_t x = 2463534242u;
    for (size_t done = 0; done < size; done += block.size()) {
      for (char& c : block) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
      }
      out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
    }
  }

 private:
  static int PickPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
  }

  // Up to 5 s for the port to accept, unless nginx has already exited.
  bool WaitReady() const {
    for (int i = 0; i < 100; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) return false;
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(port_));
      const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      ::close(fd);
      if (ok) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace quillon::test
