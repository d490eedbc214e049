// SPDX-License-Identifier: MIT
// The benchmark's harness: the cards and their databases, one timed run,
// runs of several programs in turn with their medians, and instruction
// counts. bench.cpp has the options and prints the tables.
#ifndef VORN_BENCH_HARNESS_H
#define VORN_BENCH_HARNESS_H

#include <functional>
#include <string>
#include <vector>

#include "set_file_metadata.h"

namespace bench {

inline constexpr const char *kCard = vorn::kMediaRoot;
// The folder of the entries of every database, and the entry that the
// change runs change: the first of every database.
inline const std::string kLibrary = std::string(kCard) + "/library";
inline const std::string kKnownDirectory = kLibrary + "/shelf-0";
inline constexpr const char *kKnownName = "book-0.epub";

// Ends the benchmark with `message` on standard error.
[[noreturn]] void die(const std::string &message);

// The environment of every run.
extern std::vector<std::string> g_environment;

// A database of `entries` entries, made once and kept in `cache`; its path.
std::string cached_database(const std::string &cache, long entries);

// A card: a folder holding a copy of a database, the file that the change
// runs name, and fresh files for the add runs.
struct Card {
  std::string dir;
  long entries = 0;
  int next_new = 0;

  // The card path of a file that no run has added yet.
  std::string new_file();
};

// A card in `dir` holding a copy of `database`.
Card make_card(const std::string &dir, const std::string &database,
               long entries);

struct Sample {
  double ms = 0;
  long rss_kib = 0;
  std::string err;
};

// Runs `argv` with `card` bound over the media root; only the run itself is
// timed. A run that fails, or writes to standard error unless `keep_err`,
// ends the benchmark.
Sample run_once(const std::string &card, const std::vector<std::string> &argv,
                bool keep_err = false);

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

// Runs the subjects in turn, `runs` times each, starting each round with the
// next subject, after two warm-up runs each; returns their medians.
std::vector<Figures> alternate(const std::vector<Subject> &subjects, int runs);

// The instructions that a run executes, counted by callgrind.
long long instructions(const Subject &subject);

}  // namespace bench

#endif
