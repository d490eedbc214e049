// SPDX-License-Identifier: MIT
// Measures what a vorn run costs, beside its floor (the toolkit's start and
// nothing else) and its alternative (the sqlite3 shell doing the same lookup
// and write), on cards with databases of several sizes, on tmpfs and on disk.
//
// Run on a private card (bench/run.sh): the card of each run is bound over
// the media root just before it starts.
// Every figure is a median over repeated runs, and every ratio compares
// programs that were run alternately in the same loop.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "card.h"
#include "harness.h"

namespace {

using namespace bench;
namespace fs = std::filesystem;

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

std::string sqlite_key() {
  return std::string("directory = '") + kKnownDirectory + "' AND name = '" +
         kKnownName + "'";
}

// The vorn, floor and sqlite3 subjects of the add or change path on `card`.
std::vector<Subject> subjects_for(const Options &options, Card &card,
                                  bool add) {
  const std::string database =
      std::string(kCard) + "/" + zerovora::kDatabaseFileName;
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
                    const std::string folder = std::string(kCard) + "/new";
                    sql += "SELECT tag FROM files WHERE directory = '" +
                           folder + "' AND name = '" + name +
                           "'; BEGIN IMMEDIATE; INSERT INTO files (directory, "
                           "name, size, mtime, title, author, tag) VALUES ('" +
                           folder + "', '" + name +
                           "', 0, 0, 'Title', 'Author', 'tag'); COMMIT;";
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

  // The tmpfs card folders live on the private /media (bench/run.sh),
  // beside the media root that each run's card is bound over.
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
