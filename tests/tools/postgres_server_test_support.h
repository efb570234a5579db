// A PostgreSQL server of the tests' own: a new cluster (initdb) in a private
// folder, started with pg_ctl on a private socket folder and no TCP port,
// stopped and removed again by the destructor. The server binaries are
// those of Debian's postgresql package (/usr/lib/postgresql/<version>/bin).
// The server refuses to run as root, so a test run by root starts it as
// the user nobody (through runuser); psql then connects as the cluster's
// superuser "postgres" over the socket, which trusts local connections.
//
// Start gives false, with the reason in Failure(), where the server cannot
// start here (no binaries, no runuser, initdb or pg_ctl failing); the tests
// then skip with that reason.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/process.h"
#include "tests/tools/program_run.h"

namespace strata::testing {

class PostgresServer {
 public:
  PostgresServer() = default;
  ~PostgresServer() { Stop(); }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  bool Start() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ignored)) {
      const fs::path bin = entry.path() / "bin";
      if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl") &&
          (bin_.empty() || bin.string() > bin_)) {
        bin_ = bin.string();
      }
    }
    if (bin_.empty()) return Fail("no server binaries under /usr/lib/postgresql/*/bin");
    psql_ = fs::exists(bin_ + "/psql") ? bin_ + "/psql" : "psql";
    if (::geteuid() == 0) {
      if (std::system("command -v runuser >/dev/null 2>&1") != 0) {
        return Fail("running as root and runuser is missing");
      }
      asUser_ = "runuser -u nobody -- ";
    }
    std::string pattern = platform::TemporaryPath() + "strata-pg-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return Fail("cannot make a folder for the cluster");
    root_ = pattern;
    socket_ = root_ + "/socket";
    fs::create_directories(socket_);
    // The server's user must reach its folders.
    ::chmod(root_.c_str(), 0755);
    if (::geteuid() == 0 && (::chown(socket_.c_str(), 65534, 65534) != 0 ||
                             ::chown(root_.c_str(), 65534, 65534) != 0)) {
      return Fail("cannot give the cluster's folder to nobody");
    }
    const std::string data = root_ + "/data";
    const std::string log = root_ + "/server.log";
    if (Shell(asUser_ + "'" + bin_ + "/initdb' -D '" + data +
              "' -U postgres -A trust -E UTF8 --no-locale --no-sync >'" + root_ +
              "/initdb.log' 2>&1") != 0) {
      return Fail("initdb failed: " + ReadWholeFile(root_ + "/initdb.log"));
    }
    if (Shell(asUser_ + "'" + bin_ + "/pg_ctl' -D '" + data + "' -l '" + log +
              "' -w -t 60 -o \"-k '" + socket_ +
              "' -c listen_addresses='' -c fsync=off\" start >/dev/null 2>&1") != 0) {
      return Fail("pg_ctl start failed: " + ReadWholeFile(log));
    }
    started_ = true;
    return true;
  }

  void Stop() {
    if (started_) {
      Shell(asUser_ + "'" + bin_ + "/pg_ctl' -D '" + root_ + "/data' -m immediate -w stop >/dev/null 2>&1");
      started_ = false;
    }
    if (!root_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(root_, ignored);
      root_.clear();
    }
  }

  const std::string& Failure() const { return failure_; }

  // psql on the cluster's database "postgres", stopping at the first error;
  // `args` is a shell fragment (a file to run with -f, a query with -c).
  RunResult Psql(const std::string& args, const std::string& scratch) const {
    const std::string outFile = scratch + "psql.out";
    const std::string errFile = scratch + "psql.err";
    const int raw = Shell("'" + psql_ + "' -X -q -h '" + socket_ +
                          "' -U postgres -d postgres -v ON_ERROR_STOP=1 " + args + " >'" + outFile +
                          "' 2>'" + errFile + "'");
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadWholeFile(outFile);
    result.err = ReadWholeFile(errFile);
    std::filesystem::remove(outFile);
    std::filesystem::remove(errFile);
    return result;
  }

 private:
  static int Shell(const std::string& command) { return std::system(command.c_str()); }
  bool Fail(std::string reason) {
    failure_ = std::move(reason);
    return false;
  }

  std::string bin_;
  std::string psql_;
  std::string asUser_;
  std::string root_;
  std::string socket_;
  std::string failure_;
  bool started_ = false;
};

}  // namespace strata::testing
