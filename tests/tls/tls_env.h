// What TLS tests and benchmarks need on loopback: a throw-away certificate
// authority made with the openssl tool (its CA file is what SSL_CERT_FILE
// names), a private nginx serving TLS on ports of its own, and a transport
// that connects test host names to 127.0.0.1 without touching /etc/hosts.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "net/tcp/io_handler.h"
#include "tests/support/support.h"

namespace quillon::test {

inline void WriteTextFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A folder of its own under /tmp, removed with the object.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix) {
    std::string templ = "/tmp/" + prefix + "XXXXXX";
    if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
    ::chmod(path_.c_str(), 0755);
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A certificate authority in `dir`/`name`.{pem,key}; Issue makes leaf
// certificates for the given subjectAltName entries ("DNS:x", "IP:1.2.3.4").
class TestCa {
 public:
  TestCa(std::string dir, std::string name) : dir_(std::move(dir)), name_(std::move(name)) {
    ok_ = Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3"
              " -subj '/CN=Quillon test CA " +
              name_ + "' -keyout " + key() + " -out " + pem() +
              " -addext basicConstraints=critical,CA:TRUE"
              " -addext keyUsage=critical,keyCertSign,cRLSign >/dev/null 2>&1") == 0;
  }
  bool ok() const { return ok_; }
  std::string pem() const { return dir_ + "/" + name_ + ".pem"; }
  std::string key() const { return dir_ + "/" + name_ + ".key"; }

  // Writes `leaf`.pem and `leaf`.key; an expired certificate ended yesterday.
  bool Issue(const std::string& leaf, const std::string& altNames, bool expired = false) const {
    const std::string base = dir_ + "/" + leaf;
    WriteTextFile(base + ".ext", "subjectAltName=" + altNames +
                                     "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
    return Run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=" + leaf +
               " -keyout " + base + ".key -out " + base + ".csr >/dev/null 2>&1") == 0 &&
           Run("openssl x509 -req -in " + base + ".csr -CA " + pem() + " -CAkey " + key() +
               " -CAcreateserial -days " + (expired ? "-1" : "2") + " -extfile " + base +
               ".ext -out " + base + ".pem >/dev/null 2>&1") == 0;
  }

 private:
  std::string dir_;
  std::string name_;
  bool ok_ = false;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// A private nginx: `servers` is the text of its server blocks, where the
// caller has used ports from FreePort(); the document root is root().
class TlsNginx {
 public:
  TlsNginx(const std::string& dir, const std::string& servers, std::vector<int> ports)
      : dir_(dir), ports_(std::move(ports)) {
    std::filesystem::create_directories(dir_ + "/tmp");
    std::filesystem::create_directories(root());
    WriteTextFile(
        dir_ + "/nginx.conf",
        std::string(::geteuid() == 0 ? "user root;\n" : "") +
            "master_process off;\nworker_processes 1;\npid " + dir_ + "/nginx.pid;\nerror_log " +
            dir_ +
            "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
            "  access_log off;\n  client_body_temp_path " +
            dir_ + "/tmp/body;\n  proxy_temp_path " + dir_ + "/tmp/proxy;\n  fastcgi_temp_path " +
            dir_ + "/tmp/fastcgi;\n  uwsgi_temp_path " + dir_ + "/tmp/uwsgi;\n  scgi_temp_path " +
            dir_ + "/tmp/scgi;\n  default_type application/octet-stream;\n" +
            "  sendfile on;\n  keepalive_requests 1000;\n" + servers + "}\n");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/usr/sbin/nginx", "nginx", "-p", dir_.c_str(), "-c", (dir_ + "/nginx.conf").c_str(),
              "-g", "daemon off;", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ready_ = pid_ > 0 && WaitReady();
  }
  ~TlsNginx() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  TlsNginx(const TlsNginx&) = delete;
  TlsNginx& operator=(const TlsNginx&) = delete;

  static bool Available() { return ::access("/usr/sbin/nginx", X_OK) == 0; }
  bool ready() const { return ready_; }
  std::string root() const { return dir_ + "/www"; }
  std::string errorLog() const {
    std::string text;
    Run("cat " + dir_ + "/error.log", &text);
    return text;
  }

 private:
  // Up to 5 s for every port to accept, unless nginx has already exited.
  bool WaitReady() const {
    for (int i = 0; i < 100; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) return false;
      bool all = true;
      for (int port : ports_) all = all && Accepts(port);
      if (all) return true;
      ::usleep(50 * 1000);
    }
    return false;
  }

  static bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
  }

  std::string dir_;
  std::vector<int> ports_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// One TLS server block: `port`, certificate `cert` (.pem/.key in `dir`),
// and the extra directives `body`.
inline std::string TlsServerBlock(int port, const std::string& dir, const std::string& cert,
                                  const std::string& root, const std::string& body = "") {
  return "  server {\n    listen 127.0.0.1:" + std::to_string(port) +
         " ssl;\n    ssl_certificate " + dir + "/" + cert + ".pem;\n    ssl_certificate_key " +
         dir + "/" + cert + ".key;\n    ssl_protocols TLSv1.2 TLSv1.3;\n    root " + root + ";\n" +
         body + "  }\n";
}

// The plain socket transport, connecting the names of `hosts` to their
// addresses (the TLS layer above still sees and verifies the name).
class MappedTransport : public TIdIOHandlerSocket {
 public:
  explicit MappedTransport(std::map<std::string, std::string> hosts) : hosts_(std::move(hosts)) {}
  void ConnectTo(const std::string& host, int port, const std::string& boundIP, int boundPort,
                 int boundPortMin, int boundPortMax, int timeout) override {
    const auto it = hosts_.find(host);
    TIdIOHandlerSocket::ConnectTo(it != hosts_.end() ? it->second : host, port, boundIP, boundPort,
                                  boundPortMin, boundPortMax, timeout);
  }

 private:
  std::map<std::string, std::string> hosts_;
};

}  // namespace quillon::test
