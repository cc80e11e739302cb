#include "app/options.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"

namespace tolvane {

int optind = 1;
int opterr = 1;
char* optarg = nullptr;
int optpos = 1;

int getopt_error(const char* argv0, const char* message, int letter) {
    if (opterr) console_error("%s: %s -- %c\n", argv0, message, letter);
    return '?';
}

int getopt(int argc, char* const argv[], const char* optstring) {
    optarg = nullptr;
    if (optpos == 1) {
        if (optind >= argc) return -1;
        const char* a = argv[optind];
        if (a[0] != '-' || a[1] == '\0') return -1;
        if (std::strcmp(a, "--") == 0) {
            ++optind;
            return -1;
        }
    }
    const int c = static_cast<unsigned char>(argv[optind][optpos]);
    const int letter_pos = optpos;
    ++optpos;
    if (argv[optind][optpos] == '\0') {
        ++optind;
        optpos = 1;
    }
    const char* entry = c == ':' ? nullptr : std::strchr(optstring, c);
    if (entry == nullptr) return getopt_error(argv[0], "illegal option", c);
    if (entry[1] != ':') return c;
    if (letter_pos != 1) return getopt_error(argv[0], "option must not be clustered", c);
    if (optpos != 1) return getopt_error(argv[0], "option must be followed by white space", c);
    if (optind >= argc) return getopt_error(argv[0], "option requires an argument", c);
    optarg = argv[optind++];
    return c;
}

namespace {

// Edits (a letter put in, left out or changed) from one name to another.
size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

const char* closest_long_option(const std::string& name, const long_option* table, int count) {
    const char* best = nullptr;
    size_t best_distance = 0;
    for (int i = 0; i < count; ++i) {
        const std::string candidate = table[i].name;
        // A name cut short ("--baud") is the option it begins.
        const size_t distance = candidate.rfind(name, 0) == 0 && name.size() >= 2 ? 1 : edit_distance(name, candidate);
        if (best == nullptr || distance < best_distance) {
            best = table[i].name;
            best_distance = distance;
        }
    }
    // Beyond a third of the name it is another word, not a slip.
    const size_t allowed = std::max<size_t>(1, name.size() / 3);
    return best != nullptr && best_distance <= allowed ? best : nullptr;
}

bool at_long_option(int argc, char* const argv[]) {
    if (optpos != 1 || optind >= argc) return false;
    const char* a = argv[optind];
    return a[0] == '-' && a[1] == '-' && a[2] != '\0';
}

int get_long_option(int argc, char* const argv[], const long_option* table, int count) {
    optarg = nullptr;
    const char* word = argv[optind++] + 2;
    const char* equals = std::strchr(word, '=');
    const size_t length = equals ? static_cast<size_t>(equals - word) : std::strlen(word);
    const std::string name(word, length);
    const auto fail = [&](const char* message) {
        if (opterr) console_error("%s: %s -- --%s\n", argv[0], message, name.c_str());
        return '?';
    };
    for (int i = 0; i < count; ++i) {
        const long_option& option = table[i];
        if (name != option.name) continue;
        if (equals) {
            if (option.arg == long_arg::none) return fail("option takes no argument");
            optarg = const_cast<char*>(equals + 1);
        } else if (option.arg == long_arg::required) {
            if (optind >= argc) return fail("option requires an argument");
            optarg = argv[optind++];
        }
        return option.id;
    }
    const char* closest = closest_long_option(name, table, count);
    if (closest == nullptr) return fail("illegal option");
    if (opterr) console_error("%s: illegal option -- --%s (did you mean --%s?)\n", argv[0], name.c_str(), closest);
    return '?';
}

}  // namespace tolvane
