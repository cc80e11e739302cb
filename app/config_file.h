// The config file as text: sections "[NAME]" holding "key = value" lines;
// a '#' at the start of a line or after a blank starts a comment. What a
// key means is the option table's (app/profiles.h).
#pragma once

#include <string>
#include <vector>

namespace tolvane {

struct config_entry {
    std::string key;
    std::string value;  // blanks around it dropped; "..." keeps them
    int line;
};

struct config_section {
    std::string name;
    int line;
    std::vector<config_entry> entries;  // in the file's order
};

// Parses the whole text; false with the line and what is wrong with it.
bool config_parse(const std::string& text, std::vector<config_section>* sections, int* error_line,
                  std::string* why);

}  // namespace tolvane
