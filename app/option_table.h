// The options, one row each: the letter and the long name they are
// scanned by, their argument, their line in the usage and what they set.
// The scan, the usage and the man page check all come from this table, so
// that a new option is one row.
#pragma once

#include <cstddef>
#include <string>

#include "app/options.h"
#include "base/settings.h"

namespace tolvane {

// What an option does besides setting the settings: these end the scan.
enum class option_action { set, help, version, list };

struct option_row {
    char letter;        // also taken in upper case; 0: none
    const char* name;   // the long name; null: none
    long_arg arg;       // long_arg::optional only as --name=VALUE
    const char* usage;  // its line in the usage, without the indentation
    option_action action;
    // Sets what the option asks for; false with the usage error's message.
    bool (*apply)(const char* arg, settings* s, std::string* message);
    // Whether the option, as the settings now are, needs the terminal (it
    // watches the target's text): -q cannot go with it. Null: it does not.
    bool (*needs_terminal)(const settings& s);
};

extern const option_row OPTION_TABLE[];
extern const size_t OPTION_COUNT;

}  // namespace tolvane
