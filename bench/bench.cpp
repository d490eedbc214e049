// Measures what a vorn run costs, beside its floor (the toolkit's start and
// nothing else) and its alternative (the sqlite3 shell doing the same lookup
// and write), on cards with databases of several sizes, on tmpfs and on disk.
//
// Run as root in a private mount namespace (bench/run.sh does both): the
// card of each run is bound over /media/mmcblk0p1 just before it starts.
// Every figure is a median over repeated runs, and every ratio compares
// programs that were run alternately in the same loop.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "zerovora.h"

namespace {

namespace fs = std::filesystem;

constexpr const char *kCard = "/media/mmcblk0p1";
constexpr const char *kDatabaseName = ".zerovora-global.db";
// The entry that the change runs change: the first of every database.
constexpr const char *kKnownDirectory = "/media/mmcblk0p1/library/shelf-0";
constexpr const char *kKnownName = "book-0.epub";

[[noreturn]] void die(const std::string &message) {
  std::fprintf(stderr, "vorn_bench: %s\n", message.c_str());
  std::exit(1);
}

struct Options {
  std::string vorn;
  std::string floor;
  std::string cache;
  std::string disk;
  int runs = 51;
  std::vector<long> sizes = {0, 10000, 100000, 1000000};
  std::vector<std::string> media = {"tmpfs", "disk"};
  bool instructions = true;
};

std::vector<std::string> split(const std::string &list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(',', start), list.size());
    items.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

// A list of database sizes: entry counts, each a decimal number from 0 up,
// given in any order; repeats are dropped.
std::vector<long> parse_sizes(const std::string &list) {
  std::vector<long> sizes;
  for (const auto &item : split(list)) {
    long size = 0;
    const char *last = item.data() + item.size();
    const auto [end, error] = std::from_chars(item.data(), last, size);
    if (item.empty() || item[0] == '-' || error != std::errc() || end != last) {
      die("--sizes takes entry counts such as 0,1000 (whole numbers from 0 "
          "up), not '" +
          item + "'");
    }
    sizes.push_back(size);
  }
  std::sort(sizes.begin(), sizes.end());
  sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
  return sizes;
}

Options parse(int argc, char **argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) die("missing value after " + arg);
      return argv[++i];
    };
    if (arg == "--vorn") {
      options.vorn = value();
    } else if (arg == "--floor") {
      options.floor = value();
    } else if (arg == "--cache") {
      options.cache = value();
    } else if (arg == "--disk") {
      options.disk = value();
    } else if (arg == "--smoke") {
      options.runs = 3;
      options.sizes = {0, 1000};
    } else if (arg == "--runs") {
      options.runs = std::stoi(value());
    } else if (arg == "--sizes") {
      options.sizes = parse_sizes(value());
    } else if (arg == "--media") {
      options.media = split(value());
    } else if (arg == "--no-instructions") {
      options.instructions = false;
    } else {
      die("unknown argument " + arg);
    }
  }
  if (options.vorn.empty() || options.floor.empty() || options.cache.empty() ||
      options.disk.empty()) {
    die("usage: vorn_bench --vorn PATH --floor PATH --cache DIR --disk DIR "
        "[--smoke] [--runs N] [--sizes N,N,...] [--media tmpfs,disk] "
        "[--no-instructions]");
  }
  return options;
}

// A database of `entries` entries, made once through the library (which
// creates the schema) and one SQLite transaction, and kept in the cache.
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
  const std::string file = building + "/" + kDatabaseName;
  sqlite3 *db = nullptr;
  sqlite3_open(file.c_str(), &db);
  const std::string sql =
      "PRAGMA synchronous = OFF; BEGIN;"
      "WITH RECURSIVE seq(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM seq"
      " WHERE i + 1 < " +
      std::to_string(entries) +
      ") INSERT INTO files SELECT"
      " '/media/mmcblk0p1/library/shelf-' || (i / 1000),"
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

// A card: a folder holding a copy of a database, the file that the change
// runs name, and fresh files for the add runs.
struct Card {
  std::string dir;
  long entries = 0;
  int next_new = 0;

  // The card path of a file that no run has added yet.
  std::string new_file() {
    const std::string name = "new/book-" + std::to_string(next_new++) + ".epub";
    const int fd = open((dir + "/" + name).c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0) die("cannot create " + dir + "/" + name);
    close(fd);
    return std::string(kCard) + "/" + name;
  }
};

Card make_card(const std::string &dir, const std::string &database,
               long entries) {
  fs::remove_all(dir);
  fs::create_directories(dir + "/new");
  fs::create_directories(dir + "/library/shelf-0");
  fs::copy_file(database, dir + "/" + kDatabaseName);
  const int fd = open((dir + "/library/shelf-0/" + kKnownName).c_str(),
                      O_WRONLY | O_CREAT, 0644);
  close(fd);
  return Card{dir, entries};
}

struct Sample {
  double ms = 0;
  long rss_kib = 0;
  std::string err;
};

std::vector<char *> pointers(const std::vector<std::string> &strings) {
  std::vector<char *> result;
  for (const auto &s : strings) result.push_back(const_cast<char *>(s.c_str()));
  result.push_back(nullptr);
  return result;
}

std::vector<std::string> g_environment;

// Runs `argv` with `card` bound over the media root; only the run itself is
// timed. A run that fails ends the benchmark.
Sample run_once(const std::string &card, const std::vector<std::string> &argv,
                bool keep_err = false) {
  if (mount(card.c_str(), kCard, nullptr, MS_BIND, nullptr) != 0) {
    die("cannot bind " + card + ": " + std::strerror(errno));
  }
  const int err = memfd_create("stderr", MFD_CLOEXEC);
  auto args = pointers(argv);
  auto env = pointers(g_environment);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    execvpe(args[0], args.data(), env.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  umount2(kCard, 0);
  Sample sample;
  sample.ms = std::chrono::duration<double, std::milli>(end - start).count();
  sample.rss_kib = usage.ru_maxrss;
  char buffer[65536];
  lseek(err, 0, SEEK_SET);
  for (ssize_t n; (n = read(err, buffer, sizeof buffer)) > 0;) {
    sample.err.append(buffer, static_cast<std::size_t>(n));
  }
  close(err);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    die(argv[0] + " failed (status " + std::to_string(WEXITSTATUS(status)) +
        "): " + sample.err);
  }
  if (!keep_err && !sample.err.empty()) die(argv[0] + " wrote: " + sample.err);
  return sample;
}

// One program of a comparison: its card and its command line for a run.
struct Subject {
  std::string label;
  Card *card;
  std::function<std::vector<std::string>()> argv;
};

struct Figures {
  double ms = 0;
  long rss_kib = 0;
};

template <typename T>
T median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Runs the subjects in turn, `runs` times each, starting each round with the
// next subject, after two warm-up runs each; returns their medians.
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

// The instructions that a run executes, counted by callgrind.
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

std::string sqlite_key() {
  return std::string("directory = '") + kKnownDirectory + "' AND name = '" +
         kKnownName + "'";
}

// The vorn, floor and sqlite3 subjects of the add or change path on `card`.
std::vector<Subject> subjects_for(const Options &options, Card &card,
                                  bool add) {
  const std::string database = std::string(kCard) + "/" + kDatabaseName;
  Subject vorn{"vorn", &card, [&options, &card, add]() {
                 return std::vector<std::string>{
                     options.vorn,
                     add ? card.new_file()
                         : std::string(kKnownDirectory) + "/" + kKnownName,
                     "Title", "Author", "tag"};
               }};
  Subject floor{"floor", &card, [&options]() {
                  return std::vector<std::string>{options.floor};
                }};
  Subject shell{"sqlite3", &card, [&card, add, database]() {
                  // The same lookup and write, with the same waiting and
                  // syncing as the library's.
                  std::string sql = "PRAGMA synchronous = EXTRA;";
                  if (add) {
                    const std::string name =
                        "shell-" + std::to_string(card.next_new++) + ".epub";
                    sql +=
                        "SELECT tag FROM files WHERE directory = "
                        "'/media/mmcblk0p1/new' AND name = '" +
                        name +
                        "'; BEGIN IMMEDIATE; INSERT INTO files (directory, "
                        "name, size, mtime, title, author, tag) VALUES "
                        "('/media/mmcblk0p1/new', '" +
                        name + "', 0, 0, 'Title', 'Author', 'tag'); COMMIT;";
                  } else {
                    sql += "SELECT tag FROM files WHERE " + sqlite_key() +
                           "; BEGIN IMMEDIATE; UPDATE files SET tag = 'tag', "
                           "title = 'Title', author = 'Author' WHERE " +
                           sqlite_key() + "; COMMIT;";
                  }
                  return std::vector<std::string>{"sqlite3", "-batch",
                                                  "-cmd",    ".timeout 10000",
                                                  database,  sql};
                }};
  return {vorn, floor, shell};
}

}  // namespace

int main(int argc, char **argv) {
  const Options options = parse(argc, argv);
  const char *display = std::getenv("DISPLAY");
  if (display == nullptr) die("DISPLAY is not set");
  g_environment = {std::string("DISPLAY=") + display, "HOME=/nonexistent",
                   "LC_ALL=C", "PATH=/usr/bin:/bin"};

  const std::vector<long> &sizes = options.sizes;
  const int runs = options.runs;
  fs::create_directories(options.cache);
  // The scaling table compares the largest database with an empty one,
  // which is made even when 0 is not among the sizes.
  const long largest = sizes.back();
  std::map<long, std::string> databases;
  for (long size : sizes)
    databases[size] = cached_database(options.cache, size);
  databases[0] = cached_database(options.cache, 0);

  // The tmpfs card folders live in a tmpfs over /media, beside the media
  // root that each run's card is bound over.
  if (mount("bench", "/media", "tmpfs", 0, "mode=0755") != 0 ||
      mkdir(kCard, 0755) != 0) {
    die("cannot mount a tmpfs over /media (run in a private mount namespace)");
  }
  std::map<std::string, std::string> media;
  for (const auto &medium : options.media) {
    if (medium == "tmpfs") {
      media[medium] = "/media/cards";
    } else if (medium == "disk") {
      media[medium] = options.disk + "/cards";
    } else {
      die("unknown medium " + medium);
    }
  }

  std::printf("%d runs of each program per row; times are medians.\n\n", runs);
  std::printf(
      "| card | entries | path | floor ms | vorn ms | sqlite3 ms | vorn/floor "
      "| floor RSS KiB | vorn RSS KiB | vorn - floor KiB |\n"
      "|---|---:|---|---:|---:|---:|---:|---:|---:|---:|\n");
  std::map<std::string, std::map<long, Card>> cards;
  for (const auto &[medium, root] : media) {
    for (long size : sizes) {
      cards[medium][size] = make_card(root + "/card-" + std::to_string(size),
                                      databases[size], size);
      for (bool add : {true, false}) {
        const auto figures =
            alternate(subjects_for(options, cards[medium][size], add), runs);
        std::printf(
            "| %s | %ld | %s | %.2f | %.2f | %.2f | %.3f | %ld | %ld | %ld |\n",
            medium.c_str(), size, add ? "add" : "change", figures[1].ms,
            figures[0].ms, figures[2].ms, figures[0].ms / figures[1].ms,
            figures[1].rss_kib, figures[0].rss_kib,
            figures[0].rss_kib - figures[1].rss_kib);
        std::fflush(stdout);
      }
    }
    if (cards[medium].count(0) == 0) {
      cards[medium][0] = make_card(root + "/card-0", databases[0], 0);
    }
  }

  std::printf(
      "\nvorn on the largest database against vorn on an empty one, run "
      "alternately:\n\n"
      "| card | path | vorn ms, %ld entries | vorn ms, 0 entries | ratio |\n"
      "|---|---|---:|---:|---:|\n",
      largest);
  for (const auto &[medium, root] : media) {
    for (bool add : {true, false}) {
      auto big = subjects_for(options, cards[medium][largest], add);
      auto empty = subjects_for(options, cards[medium][0], add);
      const auto figures = alternate({big[0], empty[0]}, runs);
      std::printf("| %s | %s | %.2f | %.2f | %.3f |\n", medium.c_str(),
                  add ? "add" : "change", figures[0].ms, figures[1].ms,
                  figures[0].ms / figures[1].ms);
      std::fflush(stdout);
    }
  }

  fs::remove_all(options.disk + "/cards");
  if (!options.instructions || media.count("tmpfs") == 0) return 0;
  std::printf(
      "\nInstructions per run (callgrind), tmpfs card:\n\n"
      "| entries | path | floor | vorn | vorn - floor | sqlite3 | (vorn - "
      "floor) / sqlite3 |\n"
      "|---:|---|---:|---:|---:|---:|---:|\n");
  for (long size : sizes) {
    for (bool add : {true, false}) {
      const auto subjects = subjects_for(options, cards["tmpfs"][size], add);
      const long long vorn = instructions(subjects[0]);
      const long long floor = instructions(subjects[1]);
      const long long shell = instructions(subjects[2]);
      std::printf(
          "| %ld | %s | %lld | %lld | %lld | %lld | %.3f |\n", size,
          add ? "add" : "change", floor, vorn, vorn - floor, shell,
          static_cast<double>(vorn - floor) / static_cast<double>(shell));
      std::fflush(stdout);
    }
  }
  return 0;
}
