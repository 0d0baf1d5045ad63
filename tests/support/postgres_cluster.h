// A throwaway PostgreSQL cluster for tests that read a real database server: initdb in a
// temporary folder, the server on a free port listening on 127.0.0.1 only, with a password
// login. PostgreSQL refuses to run as root, so when the tests run as root it runs as `nobody` in
// a folder that user owns. The server is stopped when the object goes (also when the test
// failed) and dies with the test process.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace lirvo::test {

// The path of the ODBC driver library `file` ("psqlodbcw.so", "libsqlite3odbc.so") in the
// system's ODBC folder; nothing when it is not installed.
std::optional<std::string> OdbcDriver(const std::string& file);

class PostgresCluster {
 public:
  // The superuser every cluster has, and its password.
  static constexpr const char* kAdmin = "lirvo_admin";
  static constexpr const char* kAdminPassword = "admin-Secret-42";

  // Whether PostgreSQL's programs (initdb, postgres) are installed.
  static bool Available();

  // Creates and starts the cluster, waiting (with a deadline) until it accepts connections.
  // Throws std::runtime_error, with the server's own output, when it does not start.
  PostgresCluster();
  ~PostgresCluster();
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  int port() const { return port_; }
  // An ODBC connection string for database "postgres" through the PostgreSQL Unicode driver,
  // without a login.
  std::string ConnectionString() const;

 private:
  void Stop();

  std::string folder_;
  int port_ = 0;
  pid_t pid_ = -1;
  int log_ = -1;  // the server's standard error
};

}  // namespace lirvo::test
