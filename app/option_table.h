// The options, one row each: the letter and the long name they are
// scanned by, their argument, their line in --help and what they set.
// The scan, the usage and the man page check all come from this table, so
// that a new option is one row.
#pragma once

#include <cstddef>
#include <string>

#include "app/options.h"
#include "base/settings.h"

namespace tolvane {

// What an option does besides setting the settings. help and version end
// the scan; list and config are done once it is over. None but set is a
// key of the config file.
enum class option_action { set, help, version, list, config };

// What the shell completions (app/completions.cpp) offer for an option's
// argument: the words, a file, a directory, or a line (the ttys and the
// profiles that --list shows). none: nothing, the user types it.
enum class arg_kind { none, words, file, directory, line };
struct arg_values {
    arg_kind kind;
    const char* words;  // arg_kind::words: each one the option takes, a space between
};

struct option_row {
    char letter;        // also taken in upper case; 0: none
    const char* name;   // the long name and the config file's key; null: none
    long_arg arg;       // long_arg::optional: --name=VALUE, or a next word next_word_takes
    const char* arg_name;  // the argument as --help shows it; null: none
    const char* help;      // what it does, on its line of --help and the usage
    option_action action;
    // Sets what the option asks for; false with the usage error's message.
    bool (*apply)(const char* arg, settings* s, std::string* message);
    // Whether the option, as the settings now are, needs the terminal (it
    // watches the target's text): -q cannot go with it. Null: it does not.
    bool (*needs_terminal)(const settings& s);
    // A flag's "false" in the config file: puts back what the option set.
    // Null: the option takes an argument, or cannot be undone.
    void (*clear)(settings* s);
    // An optional argument may also be the next word, when this says the
    // word is one ("--timestamp 24hour-delta"). Null: only as --name=VALUE.
    bool (*next_word_takes)(const char* word);
    arg_values values;  // what a completion offers for the argument
};

extern const option_row OPTION_TABLE[];
extern const size_t OPTION_COUNT;
// An option's line in --help and the usage: "  -c, --device DEV  ...".
std::string option_help_line(const option_row& row);

// The row with this long name; null when none has it.
const option_row* option_named(const std::string& name);

}  // namespace tolvane
