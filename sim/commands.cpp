#include "sim/commands.h"

#include <cstdlib>
#include <cstring>

#include "sim/line.h"
#include "sim/output.h"
#include "client/hostfs.h"

namespace sim {

namespace {

using tolvane::host_file;

constexpr long CHUNK = 64;
constexpr int HEAD_LINE_MAX = 256;
constexpr long HEAD_DEFAULT_LINES = 10;
constexpr int SEEK_FROM_END = 2;     // SEEK_END on the host
constexpr int FIND_DIRECTORIES = 0x10;
constexpr unsigned ATTRIBUTE_DIRECTORY = 0x10;

const char* arg(const Words& w, std::size_t i) { return w[i].c_str(); }

std::string join(const Words& w, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < w.size(); ++i) {
        if (i > from) text += ' ';
        text += w[i];
    }
    return text;
}

// After a file-service call: true when the host served it; otherwise says
// why not and the command gives up.
bool served(const Words& w) {
    const LineFailure why = line_failure();
    if (why == LineFailure::none) return true;
    line_clear_failure();
    if (why == LineFailure::no_answer)
        put_line("%s: no answer from the host (is tolvane running?)", arg(w, 0));
    else if (why == LineFailure::host_gone)
        put_line("%s: the host has gone", arg(w, 0));
    else
        put_line("%s: interrupted", arg(w, 0));
    return false;
}

// Opens a host file for a command, saying so when it cannot.
host_file open_for(const Words& w, std::size_t i, const char* mode, const char* failure) {
    const host_file f = tolvane::host_fopen(arg(w, i), mode);
    if (!served(w)) return 0;
    if (!f) put_line("%s: cannot %s %s", arg(w, 0), failure, arg(w, i));
    return f;
}

void close_for(const Words& w, host_file f, std::size_t i) {
    const int result = tolvane::host_fclose(f);
    if (served(w) && result != 0) put_line("%s: cannot write %s", arg(w, 0), arg(w, i));
}

bool parse_count(const std::string& text, long* count) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0) return false;
    *count = value;
    return true;
}

void print_entry(const tolvane::host_find_record& r) {
    char size[16];
    if (r.attributes & ATTRIBUTE_DIRECTORY)
        std::snprintf(size, sizeof size, "<DIR>");
    else
        std::snprintf(size, sizeof size, "%lu", static_cast<unsigned long>(r.size));
    put_line("%-13s %10s  %04u-%02u-%02u %02u:%02u:%02u", r.name, size, 1980u + (r.date >> 9),
             (r.date >> 5) & 0x0Fu, r.date & 0x1Fu, static_cast<unsigned>(r.time >> 11),
             (r.time >> 5) & 0x3Fu, (r.time & 0x1Fu) * 2);
}

void cmd_ls(const Words& w) {
    const char* pattern = w.size() > 1 ? arg(w, 1) : "*";
    tolvane::host_find_record r;
    int found = tolvane::host_findfirst(pattern, FIND_DIRECTORIES, &r);
    if (!served(w)) return;
    int count = 0;
    while (found == 0) {
        print_entry(r);
        ++count;
        found = tolvane::host_findnext(&r);
        if (!served(w)) return;
    }
    if (count == 0)
        put_line("ls: no match for %s", pattern);
    else
        put_line("%d %s", count, count == 1 ? "entry" : "entries");
}

void cmd_cat(const Words& w) {
    const host_file f = open_for(w, 1, "rb", "open");
    if (!f) return;
    char buffer[CHUNK];
    bool line_ended = true;
    for (;;) {
        const long n = tolvane::host_fread(buffer, CHUNK, f);
        if (!served(w)) return;
        if (n > 0) line_ended = put_file_bytes(buffer, static_cast<std::size_t>(n));
        if (n < CHUNK) break;
    }
    if (!line_ended) put_text("\r\n");
    close_for(w, f, 1);
}

void cmd_head(const Words& w) {
    long lines = HEAD_DEFAULT_LINES;
    if (w.size() > 2 && !parse_count(w[2], &lines)) {
        put_line("head: not a count: %s", arg(w, 2));
        return;
    }
    const host_file f = open_for(w, 1, "rb", "open");
    if (!f) return;
    char line[HEAD_LINE_MAX];
    bool line_ended = true;
    while (lines > 0) {
        const char* got = tolvane::host_fgets(line, HEAD_LINE_MAX, f);
        if (!served(w)) return;
        if (!got) break;
        line_ended = put_file_bytes(line, std::strlen(line));
        if (line_ended) --lines;  // a line longer than the buffer comes in parts
    }
    if (!line_ended) put_text("\r\n");
    close_for(w, f, 1);
}

void cmd_stat(const Words& w) {
    const host_file f = open_for(w, 1, "rb", "open");
    if (!f) return;
    const int sought = tolvane::host_fseek(f, 0, SEEK_FROM_END);
    if (!served(w)) return;
    const long size = tolvane::host_ftell(f);
    if (!served(w)) return;
    if (sought != 0 || size < 0)
        put_line("stat: cannot seek in %s", arg(w, 1));
    else
        put_line("%s: %ld bytes", arg(w, 1), size);
    close_for(w, f, 1);
}

// put and append: the words after the name and a newline.
void write_words(const Words& w, const char* mode) {
    const host_file f = open_for(w, 1, mode, "open");
    if (!f) return;
    std::string text = join(w, 2);
    if (!text.empty()) text += '\n';
    const bool written = text.empty() || tolvane::host_fputs(text.c_str(), f) >= 0;
    if (!served(w)) return;
    if (!written) put_line("%s: cannot write %s", arg(w, 0), arg(w, 1));
    close_for(w, f, 1);
}

void cmd_put(const Words& w) { write_words(w, "w"); }
void cmd_append(const Words& w) { write_words(w, "a"); }

void cmd_cp(const Words& w) {
    const host_file from = open_for(w, 1, "rb", "open");
    if (!from) return;
    const host_file to = open_for(w, 2, "wb", "create");
    if (!to) {
        tolvane::host_fclose(from);
        served(w);
        return;
    }
    char buffer[CHUNK];
    for (;;) {
        const long n = tolvane::host_fread(buffer, CHUNK, from);
        if (!served(w)) return;
        if (n > 0) tolvane::host_fwrite(buffer, n, to);
        if (n < CHUNK) break;
    }
    tolvane::host_fclose(from);
    if (!served(w)) return;
    close_for(w, to, 2);
}

void cmd_rm(const Words& w) {
    const int result = tolvane::host_remove(arg(w, 1));
    if (served(w) && result != 0) put_line("rm: cannot remove %s", arg(w, 1));
}

void cmd_mv(const Words& w) {
    const int result = tolvane::host_rename(arg(w, 1), arg(w, 2));
    if (served(w) && result != 0) put_line("mv: cannot rename %s to %s", arg(w, 1), arg(w, 2));
}

void cmd_echo(const Words& w) { put_line("%s", join(w, 1).c_str()); }

void cmd_help(const Words&);

struct Command {
    const char* name;
    const char* args;
    const char* purpose;
    std::size_t min_words;  // with the name
    std::size_t max_words;  // 0: no limit
    void (*run)(const Words&);
};

const Command commands[] = {
    {"help", "", "this list", 1, 1, cmd_help},
    {"echo", "TEXT...", "print TEXT", 1, 0, cmd_echo},
    {"ls", "[PATTERN]", "list host files (find first/next), default *", 1, 2, cmd_ls},
    {"cat", "FILE", "print a host file", 2, 2, cmd_cat},
    {"head", "FILE [N]", "print the first N lines (default 10)", 2, 3, cmd_head},
    {"stat", "FILE", "size of a host file (seek to its end, tell)", 2, 2, cmd_stat},
    {"put", "FILE TEXT...", "write TEXT and a newline to FILE", 2, 0, cmd_put},
    {"append", "FILE TEXT...", "add TEXT and a newline to FILE", 2, 0, cmd_append},
    {"cp", "SRC DST", "copy a host file", 3, 3, cmd_cp},
    {"mv", "OLD NEW", "rename a host file", 3, 3, cmd_mv},
    {"rm", "FILE", "remove a host file", 2, 2, cmd_rm},
};

void cmd_help(const Words&) {
    put_line("commands:");
    for (const Command& c : commands) put_line("  %-6s %-13s %s", c.name, c.args, c.purpose);
    put_line("Files are the host's, in the directory tolvane runs in.");
}

}  // namespace

void run_command(const Words& words) {
    for (const Command& c : commands) {
        if (words[0] != c.name) continue;
        if (words.size() < c.min_words || (c.max_words != 0 && words.size() > c.max_words)) {
            put_line("usage: %s %s", c.name, c.args);
            return;
        }
        line_clear_failure();
        c.run(words);
        return;
    }
    put_line("%s: unknown command, try help", words[0].c_str());
}

}  // namespace sim
