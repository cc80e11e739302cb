// tolvane-completions: writes tolvane's bash, zsh and fish completions
// from the option table when tolvane is built, so that a new row completes
// without a change to any script. The words a row offers must each be
// taken by the row itself: a completion never offers what tolvane refuses.
//
// usage: tolvane-completions DIR
//        (writes DIR/tolvane.bash, DIR/_tolvane and DIR/tolvane.fish)
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "app/option_table.h"

namespace tolvane {
namespace {

std::vector<std::string> split_words(const char* list) {
    std::vector<std::string> words;
    std::string word;
    for (const char* p = list; ; ++p) {
        if (*p == ' ' || *p == '\0') {
            if (!word.empty()) words.push_back(word);
            word.clear();
            if (*p == '\0') break;
        } else {
            word += *p;
        }
    }
    return words;
}

// The words go into the scripts unquoted: they must need no quoting.
bool plain_word(const std::string& word) {
    for (char c : word) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        if (!plain) return false;
    }
    return !word.empty();
}

// Each word a row offers is plain and taken by the row; false with why not.
bool check_row(const option_row& row, std::string* why) {
    const std::string name = row.name ? std::string("--") + row.name : std::string("-") + row.letter;
    if (row.values.kind != arg_kind::none && row.arg == long_arg::none) {
        *why = name + " takes no argument but offers values";
        return false;
    }
    if (row.values.kind != arg_kind::words) return true;
    const std::vector<std::string> words = split_words(row.values.words ? row.values.words : "");
    if (words.empty()) {
        *why = name + " offers no words";
        return false;
    }
    for (const std::string& word : words) {
        settings s;
        std::string message;
        if (!plain_word(word)) {
            *why = name + " offers \"" + word + "\", which needs quoting";
            return false;
        }
        if (row.apply && !row.apply(word.c_str(), &s, &message)) {
            *why = name + " offers \"" + word + "\", which it refuses: " + message;
            return false;
        }
    }
    return true;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Inside '...' of bash and zsh.
std::string single_quoted(const std::string& text) { return "'" + replace_all(text, "'", "'\\''") + "'"; }

// Inside '...' of fish, where a backslash escapes too.
std::string fish_quoted(const std::string& text) {
    return "'" + replace_all(replace_all(text, "\\", "\\\\"), "'", "\\'") + "'";
}

// Whether the word after the option is its argument: always for a
// required one, for an optional one when the scan looks at that word.
bool takes_next_word(const option_row& row) {
    return row.arg == long_arg::required || (row.arg == long_arg::optional && row.next_word_takes);
}

const char* kind_name(arg_kind kind) {
    switch (kind) {
    case arg_kind::words: return "words";
    case arg_kind::file: return "file";
    case arg_kind::directory: return "directory";
    case arg_kind::line: return "line";
    case arg_kind::none: break;
    }
    return "text";
}

const char BASH_HEAD[] = R"SH(# bash completion for tolvane, written from its option table when tolvane
# was built.

)SH";

const char BASH_BODY[] = R"SH(
# words, cur: COMP_WORDS up to the cursor with what COMP_WORDBREAKS split
# put back together ("--timestamp=iso8601", "usb:0403:6001"): a piece with
# no blank before it in the line belongs to the word before.
_tolvane_words() {
    local line=${COMP_LINE-${COMP_WORDS[*]}} i word
    line=${line:0:${COMP_POINT-${#line}}}
    words=()
    for ((i = 0; i <= COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if ((i == 0)) || [[ $line == [[:blank:]]* ]]; then
            words+=("")
        fi
        line=${line#"${line%%[![:blank:]]*}"}
        ((i == COMP_CWORD)) && word=$line
        words[-1]+=$word
        line=${line#"$word"}
    done
    cur=${words[-1]}
}

# The names --list prints: the serial lines and the profiles of the config
# file (the one --config names on this command line, if any).
_tolvane_lines() {
    local program=${words[0]} config="" i out line
    # The program as typed: a ~/ in it is not expanded yet.
    # shellcheck disable=SC2088
    [[ $program == "~/"* ]] && program=$HOME/${program#"~/"}
    for ((i = 1; i < ${#words[@]} - 1; i++)); do
        case ${words[i]} in
        --config) config=${words[i + 1]} ;;
        --config=*) config=${words[i]#--config=} ;;
        esac
    done
    out=$("$program" --list ${config:+--config "$config"} 2>/dev/null) ||
        out=$("$program" --list 2>/dev/null)
    while IFS= read -r line; do
        case $line in
        "" | "no serial lines found" | "profiles in "*:) ;;
        *) printf '%s\n' "${line%%[[:blank:]]*}" ;;
        esac
    done <<<"$out"
}

_tolvane() {
    local words cur prev value="" brk
    local -a _tolvane_values
    COMPREPLY=()
    _tolvane_words
    prev=${words[-2]-}
    if [[ $cur == --*=* ]] && _tolvane_argument "${cur%%=*}="; then
        value=${cur#*=}
    elif [[ $prev == --?* ]] && _tolvane_argument "$prev"; then
        value=$cur
    elif [[ $prev == -[!-]* ]] && _tolvane_argument "-${prev: -1}"; then
        value=$cur
    elif [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$_tolvane_options" -- "$cur")
        return 0
    else
        return 0 # a command word for the board
    fi
    case ${_tolvane_values[0]} in
    words)
        mapfile -t COMPREPLY < <(compgen -W "${_tolvane_values[*]:1}" -- "$value")
        ;;
    file)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$value")
        ;;
    directory)
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$value")
        ;;
    line)
        mapfile -t COMPREPLY < <(compgen -W "$(_tolvane_lines)" -- "$value")
        if [[ $value == */* ]]; then
            compopt -o filenames 2>/dev/null
            mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -f -- "$value")
        fi
        ;;
    esac
    # Bash replaces only what follows the last = or : it split at.
    brk=${COMP_WORDBREAKS//[!=:]/}
    if [[ -n $brk && $value == *["$brk"]* ]]; then
        local before=${value%"${value##*["$brk"]}"}
        COMPREPLY=("${COMPREPLY[@]#"$before"}")
    fi
    return 0
}

complete -F _tolvane tolvane
)SH";

std::string bash_script() {
    std::string options;
    std::string cases;
    for (size_t i = 0; i < OPTION_COUNT; ++i) {
        const option_row& row = OPTION_TABLE[i];
        std::vector<std::string> patterns;
        if (row.letter) {
            options += std::string(options.empty() ? "" : " ") + "-" + row.letter;
            if (row.arg == long_arg::required) {
                patterns.push_back(std::string("-") + row.letter);
                patterns.push_back(std::string("-") + static_cast<char>(std::toupper(row.letter)));
            }
        }
        if (row.name) {
            options += std::string(options.empty() ? "" : " ") + "--" + row.name;
            if (takes_next_word(row)) patterns.push_back(std::string("--") + row.name);
            if (row.arg != long_arg::none) patterns.push_back(std::string("--") + row.name + "=");
        }
        if (patterns.empty()) continue;
        std::string pattern;
        for (const std::string& p : patterns) pattern += (pattern.empty() ? "" : " | ") + p;
        std::string values = kind_name(row.values.kind);
        if (row.values.kind == arg_kind::words) values += std::string(" ") + row.values.words;
        cases += "    " + pattern + ") _tolvane_values=(" + values + ") ;;\n";
    }
    return std::string(BASH_HEAD) + "_tolvane_options=" + single_quoted(options) +
           "\n\n"
           "# _tolvane_values: what the argument of the option in $1 is (line, file,\n"
           "# directory, text or words and the words); status 1 when it takes none.\n"
           "_tolvane_argument() {\n"
           "    case $1 in\n" +
           cases +
           "    *) return 1 ;;\n"
           "    esac\n"
           "}\n" +
           BASH_BODY;
}

const char ZSH_HEAD[] = R"SH(#compdef tolvane
# zsh completion for tolvane, written from its option table when tolvane
# was built.

# The names --list prints: the serial lines and the profiles of the config
# file (the one --config names on this command line, if any); files too
# for a path.
_tolvane_lines() {
    local program=${~words[1]} config="" i line out
    local -a names alternatives
    for ((i = 2; i < CURRENT; i++)); do
        case $words[i] in
        (--config) config=$words[i+1] ;;
        (--config=*) config=${words[i]#--config=} ;;
        esac
    done
    out=$($program --list ${config:+--config} ${config:+$config} 2>/dev/null) ||
        out=$($program --list 2>/dev/null)
    for line in ${(f)out}; do
        case $line in
        ('no serial lines found'|'profiles in '*:) ;;
        (*) names+=(${line%%[[:blank:]]*}) ;;
        esac
    done
    alternatives=('lines:line or profile:compadd -a names')
    [[ $PREFIX == */* ]] && alternatives+=('files:file:_files')
    _alternative $alternatives
}

_arguments -s -S \
)SH";

// The description zsh's _arguments shows for an option, inside [...].
std::string zsh_description(const char* help) {
    return replace_all(replace_all(replace_all(help, "\\", "\\\\"), "[", "\\["), "]", "\\]");
}

std::string zsh_action(const arg_values& values) {
    switch (values.kind) {
    case arg_kind::words: return std::string("(") + values.words + ")";
    case arg_kind::file: return "_files";
    case arg_kind::directory: return "_files -/";
    case arg_kind::line: return "_tolvane_lines";
    case arg_kind::none: break;
    }
    return " ";
}

std::string zsh_script() {
    std::string specs;
    for (size_t i = 0; i < OPTION_COUNT; ++i) {
        const option_row& row = OPTION_TABLE[i];
        const std::string description = "[" + zsh_description(row.help) + "]";
        // A letter with an optional argument is a flag: the argument goes
        // with the long name only, as --name=VALUE.
        const bool letter_is_flag = row.arg == long_arg::optional;
        if (row.letter && letter_is_flag)
            specs += "    " + single_quoted(std::string("*-") + row.letter + description) + " \\\n";
        // After each option's names: "+" an argument in the same word or
        // the next, "=" after "=" or in the next, "=-" after "=" only.
        std::vector<std::string> names;
        if (row.letter && !letter_is_flag)
            names.push_back(std::string("-") + row.letter + (row.arg == long_arg::required ? "+" : ""));
        if (row.name) {
            const char* takes = row.arg == long_arg::required ? "=" : row.arg == long_arg::optional ? "=-" : "";
            names.push_back(std::string("--") + row.name + takes);
        }
        if (names.empty()) continue;
        std::string tail = description;
        if (row.arg != long_arg::none) {
            const std::string message = replace_all(row.arg_name ? row.arg_name : "value", ":", "\\:");
            tail += (row.arg == long_arg::optional ? "::" : ":") + message + ":" + zsh_action(row.values);
        }
        if (names.size() == 2)
            specs += "    '*'{" + names[0] + "," + names[1] + "}" + single_quoted(tail) + " \\\n";
        else
            specs += "    " + single_quoted("*" + names[0] + tail) + " \\\n";
    }
    // The command words: nothing to offer (a message instead would keep
    // zsh from putting in an option that is the only match).
    return std::string(ZSH_HEAD) + specs + "    '*::command word:_nothing'\n";
}

const char FISH_HEAD[] = R"SH(# fish completion for tolvane, written from its option table when tolvane
# was built.

# The names --list prints, with what it says of each: the serial lines and
# the profiles of the config file (the one --config names on this command
# line, if any); files too for a path.
function __tolvane_lines
    set -l tokens (commandline -opc)
    set -l config
    for i in (seq 2 (math (count $tokens) - 1))
        switch $tokens[$i]
            case --config
                set config --config $tokens[(math $i + 1)]
            case '--config=*'
                set config --config (string replace -- --config= '' $tokens[$i])
        end
    end
    set -l out ($tokens[1] --list $config 2>/dev/null)
    or set out ($tokens[1] --list 2>/dev/null)
    for line in $out
        switch $line
            case 'no serial lines found' 'profiles in *:'
                continue
        end
        string replace -r '^(\S+)\s+(.*)$' '$1\t$2' -- $line
    end
    set -l token (commandline -ct)
    if string match -q -- '*/*' $token
        __fish_complete_path $token
    end
end

# The command words go to the board: no files for them.
complete -c tolvane -f
)SH";

std::string fish_arguments(const arg_values& values) {
    switch (values.kind) {
    case arg_kind::words: return std::string(" -x -a ") + fish_quoted(values.words);
    case arg_kind::file: return " -r -F";
    case arg_kind::directory: return " -x -a '(__fish_complete_directories)'";
    case arg_kind::line: return " -x -a '(__tolvane_lines)'";
    case arg_kind::none: break;
    }
    return " -x";
}

std::string fish_script() {
    std::string lines;
    for (size_t i = 0; i < OPTION_COUNT; ++i) {
        const option_row& row = OPTION_TABLE[i];
        const std::string description = " -d " + fish_quoted(row.help);
        // A letter with an optional argument is a flag; the long name takes
        // the next word when the scan does.
        const bool letter_is_flag = row.arg == long_arg::optional;
        if (row.letter && letter_is_flag)
            lines += std::string("complete -c tolvane -s ") + row.letter + description + "\n";
        std::string names;
        if (row.letter && !letter_is_flag) names += std::string(" -s ") + row.letter;
        if (row.name) names += std::string(" -l ") + row.name;
        if (names.empty()) continue;
        const std::string arguments = takes_next_word(row) ? fish_arguments(row.values) : "";
        lines += "complete -c tolvane" + names + arguments + description + "\n";
    }
    return std::string(FISH_HEAD) + lines;
}

bool write_file(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(path.c_str());
        return false;
    }
    return true;
}

}  // namespace
}  // namespace tolvane

int main(int argc, char* argv[]) {
    using namespace tolvane;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    for (size_t i = 0; i < OPTION_COUNT; ++i) {
        std::string why;
        if (!check_row(OPTION_TABLE[i], &why)) {
            std::fprintf(stderr, "%s: the option table: %s\n", argv[0], why.c_str());
            return 1;
        }
    }
    const std::string dir = argv[1];
    const bool written = write_file(dir + "/tolvane.bash", bash_script()) &&
                         write_file(dir + "/_tolvane", zsh_script()) &&
                         write_file(dir + "/tolvane.fish", fish_script());
    return written ? 0 : 1;
}
