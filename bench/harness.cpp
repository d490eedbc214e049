// SPDX-License-Identifier: MIT
#include "harness.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>

#include "card.h"
#include "process.h"
#include "zerovora.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

template <typename T>
T median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

std::vector<std::string> g_environment;

void die(const std::string &message) {
  std::fprintf(stderr, "vorn_bench: %s\n", message.c_str());
  std::exit(1);
}

std::string Card::new_file() {
  const std::string name = "new/book-" + std::to_string(next_new++) + ".epub";
  const int fd = open((dir + "/" + name).c_str(), O_WRONLY | O_CREAT, 0644);
  if (fd < 0) die("cannot create " + dir + "/" + name);
  close(fd);
  return std::string(kCard) + "/" + name;
}

// Made through the library (which creates the schema) and one SQLite
// transaction.
std::string cached_database(const std::string &cache, long entries) {
  const std::string path = cache + "/db-" + std::to_string(entries) + ".db";
  if (fs::exists(path)) return path;
  const std::string building = cache + "/building";
  fs::remove_all(building);
  fs::create_directories(building);
  // The library opens a database only on a mounted card.
  if (mount(building.c_str(), building.c_str(), nullptr, MS_BIND, nullptr) !=
      0) {
    die("cannot bind " + building + " over itself: " + std::strerror(errno));
  }
  zerovora_global *global = zerovora_global_open(building.c_str(), 0);
  if (global == nullptr) die("cannot create a database in " + building);
  zerovora_close(global);
  const std::string file = building + "/" + zerovora::kDatabaseFileName;
  sqlite3 *db = nullptr;
  sqlite3_open(file.c_str(), &db);
  const std::string sql =
      "PRAGMA synchronous = OFF; BEGIN;"
      "WITH RECURSIVE seq(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM seq"
      " WHERE i + 1 < " +
      std::to_string(entries) +
      ") INSERT INTO files SELECT"
      " '" +
      kLibrary +
      "/shelf-' || (i / 1000),"
      " 'book-' || i || '.epub', 1000 + i, 1700000000 + i, 'Title ' || i,"
      " 'Author ' || (i % 5000), 'tag-' || (i % 50) FROM seq;"
      "COMMIT;";
  if (entries > 0 &&
      sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    die(std::string("cannot fill the database: ") + sqlite3_errmsg(db));
  }
  sqlite3_close(db);
  umount2(building.c_str(), 0);
  fs::rename(file, path);
  fs::remove_all(building);
  return path;
}

Card make_card(const std::string &dir, const std::string &database,
               long entries) {
  fs::remove_all(dir);
  fs::create_directories(dir + "/new");
  fs::create_directories(dir + "/library/shelf-0");
  fs::copy_file(database, dir + "/" + zerovora::kDatabaseFileName);
  const int fd = open((dir + "/library/shelf-0/" + kKnownName).c_str(),
                      O_WRONLY | O_CREAT, 0644);
  close(fd);
  return Card{dir, entries};
}

Sample run_once(const std::string &card, const std::vector<std::string> &argv,
                bool keep_err) {
  if (mount(card.c_str(), vorn::kMediaRoot, nullptr, MS_BIND, nullptr) != 0) {
    die("cannot bind " + card + ": " + std::strerror(errno));
  }
  const auto start = std::chrono::steady_clock::now();
  const auto run =
      vorn::testing::run_process(argv, g_environment, std::chrono::minutes(10));
  const auto end = std::chrono::steady_clock::now();
  umount2(vorn::kMediaRoot, 0);
  if (run.status != 0) {
    die(argv[0] + " failed (status " + std::to_string(run.status) +
        "): " + run.err);
  }
  if (!keep_err && !run.err.empty()) die(argv[0] + " wrote: " + run.err);
  return {std::chrono::duration<double, std::milli>(end - start).count(),
          run.max_rss_kib, run.err};
}

std::vector<Figures> alternate(const std::vector<Subject> &subjects, int runs) {
  for (const auto &subject : subjects) {
    for (int i = 0; i < 2; ++i) run_once(subject.card->dir, subject.argv());
  }
  std::vector<std::vector<double>> ms(subjects.size());
  std::vector<std::vector<long>> rss(subjects.size());
  for (int round = 0; round < runs; ++round) {
    for (std::size_t k = 0; k < subjects.size(); ++k) {
      const std::size_t i =
          (k + static_cast<std::size_t>(round)) % subjects.size();
      const Sample sample = run_once(subjects[i].card->dir, subjects[i].argv());
      ms[i].push_back(sample.ms);
      rss[i].push_back(sample.rss_kib);
    }
  }
  std::vector<Figures> figures;
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    figures.push_back({median(ms[i]), median(rss[i])});
  }
  return figures;
}

long long instructions(const Subject &subject) {
  std::vector<std::string> argv = {"valgrind", "--tool=callgrind",
                                   "--callgrind-out-file=/dev/null"};
  const auto command = subject.argv();
  argv.insert(argv.end(), command.begin(), command.end());
  const Sample sample = run_once(subject.card->dir, argv, true);
  std::smatch match;
  static const std::regex collected("Collected : ([0-9]+)");
  if (!std::regex_search(sample.err, match, collected)) {
    die("no instruction count from callgrind: " + sample.err);
  }
  return std::stoll(match[1]);
}

}  // namespace bench
