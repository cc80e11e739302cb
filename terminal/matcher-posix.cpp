#include <regex.h>

#include "terminal/matcher.h"

namespace tolvane {

struct matcher {
    regex_t compiled;
};

void matcher_free(matcher* m) {
    if (m == nullptr) return;
    regfree(&m->compiled);
    delete m;
}

matcher_ptr matcher_compile(const char* pattern, std::string* error) {
    matcher_ptr m(new matcher);
    const int code = regcomp(&m->compiled, pattern, REG_EXTENDED);
    if (code == 0) return m;
    char reason[256];
    regerror(code, &m->compiled, reason, sizeof reason);
    *error = reason;
    delete m.release();  // nothing to regfree after a failed regcomp
    return nullptr;
}

bool matcher_find(const matcher& m, const char* text, size_t from, size_t length, bool at_line_start,
                  bool at_line_end, size_t* end) {
    (void)length;  // the text ends at its NUL
    regmatch_t match[1];
    const int flags = (at_line_start ? 0 : REG_NOTBOL) | (at_line_end ? 0 : REG_NOTEOL);
    if (regexec(&m.compiled, text + from, 1, match, flags) != 0) return false;
    *end = from + static_cast<size_t>(match[0].rm_eo);
    return true;
}

}  // namespace tolvane
