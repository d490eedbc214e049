// SPDX-License-Identifier: MIT
// Which command-line words reach the toolkit and which are vorn's values.
#ifndef VORN_CLI_TOOLKIT_ARGUMENTS_H
#define VORN_CLI_TOOLKIT_ARGUMENTS_H

namespace vorn {

// Splits a command line into the toolkit's part and the values.
//
// The toolkit gets the program name and the leading words that start with
// "--", each with its separate value where it is one of the toolkit's
// options that take one ("--display :1"). The first other word, or a "--"
// (which is dropped), ends that part: from there on every word is a value,
// so that a title such as "--sync" or "--gtk-module=x" is never read as an
// option. What the toolkit leaves of its part (an option it does not know)
// is counted among the values, ahead of the rest.
//
// `argv` must hold `argc` strings and stay alive as long as this object;
// its element just past the toolkit's part is set to null, so that the
// toolkit's vector ends there.
class ToolkitArguments {
 public:
  ToolkitArguments(int argc, char **argv);
  ToolkitArguments(const ToolkitArguments &) = delete;
  ToolkitArguments &operator=(const ToolkitArguments &) = delete;

  // The toolkit's count and vector, to hand to gtk_init by address.
  int *toolkit_count() { return &toolkit_argc_; }
  char ***toolkit_vector() { return &toolkit_argv_; }

  // Stores the first `capacity` values in `out` and returns how many values
  // there are in all. Call it after the toolkit has taken its options.
  int values(const char **out, int capacity) const;

 private:
  int toolkit_argc_;
  char **toolkit_argv_;
  // The words after the toolkit's part and its "--". The first is kept
  // apart, since its place in `argv` may be the one set to null.
  char **rest_;
  int rest_count_;
  char *first_rest_;
};

}  // namespace vorn

#endif
