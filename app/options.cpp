#include "app/options.h"

#include <cstring>
#include <string>

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
    return fail("illegal option");
}

}  // namespace tolvane
