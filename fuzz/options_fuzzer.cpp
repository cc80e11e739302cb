// The option scanner and the entry's handling of the command line, with
// the line, the terminal and the service root stubbed out.
//
// An input is one byte of switches, then the argv words, split at NUL bytes
// (no bytes at all: argc is 0). Each word has a buffer of exactly its size.
//   bit 0: the whole entry() too, after scan_options() alone
//   bit 1: the line cannot be opened   bit 2: the -d directory cannot be opened
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/list.h"
#include "app/options.h"
#include "app/scan.h"
#include "base/keyboard.h"
#include "base/line.h"
#include "base/serial_lines.h"
#include "base/settings.h"
#include "base/stop.h"
#include "base/wait.h"
#include "fileservice/rpc.h"
#include "link/link.h"
#include "net/rfc2217_line.h"
#include "terminal/commands.h"
#include "terminal/outgoing.h"
#include "terminal/session.h"
#include "terminal/term_loop.h"

namespace {

bool line_opens = true;
bool root_opens = true;

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "options fuzzer: %s\n", what);
    std::abort();
}

bool is_word_of(const std::string& text, int argc, char* const argv[]) {
    for (int i = 0; i < argc; ++i) {
        if (text == argv[i]) return true;
    }
    return false;
}

bool has_space(const std::string& text) {
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) return true;
    }
    return false;
}

// What a scan that ends well leaves: it stopped at the end, at a word that
// is no option, or just after "--"; the settings name whole words.
void check_scan(int argc, char* argv[], const tolvane::settings& s) {
    using namespace tolvane;
    if (optind < 0 || optind > (argc > 0 ? argc : 1)) fault("optind outside argv");
    if (optpos != 1) fault("the scan ended inside a word");
    if (optind < argc) {
        const char* next = argv[optind];
        const bool option = next[0] == '-' && next[1] != '\0';
        if (option && std::strcmp(argv[optind - 1], "--") != 0) fault("the scan ended at an option");
    }
    if (s.files.root && !is_word_of(*s.files.root, argc, argv)) fault("-d names no word of argv");
    if (s.line.device.empty() || has_space(s.line.device)) fault("-c left no single word");
    if (s.words.size() != static_cast<size_t>(optind < argc ? argc - optind : 0)) fault("the command words are not the rest of argv");
}

}  // namespace

// The platform the entry needs, as far as it needs it here.
namespace tolvane {

bool line_open(line_state&, const line_settings& settings) { return line_opens && !settings.device.empty(); }
void line_close(line_state&) {}
long line_speed(const line_state&) { return 115200; }
void term_loop(session&, bool) {}
void keyboard_use(key_form) {}
// What the entry sends goes nowhere; nothing here ends the program.
void outgoing_start(session&, bool, int, int) {}
void outgoing_put(session&, unsigned char) {}
size_t outgoing_held(const session&) { return 0; }
void outgoing_send(session&) {}
deadline outgoing_due(const session&) { return deadline::never(); }
bool outgoing_line_full(session&) { return false; }
bool line_gone(const line_state&) { return false; }
bool wait_once(line_state&, unsigned, deadline) { return false; }
void stop_now(int) { std::abort(); }  // no console output ever fails here
void term_say_timed_out(const session&) {}
void commands_start(session&, const settings&) {}
Rfc2217Port rfc2217_line_port(line_state&) { return {}; }  // no share client comes here
// Reads the name as the real one does, so that a -d argument that no longer
// lives shows here.
bool rpc_start(file_service&, const service_settings& settings) {
    if (!settings.root) return true;
    const volatile size_t length = std::strlen(settings.root->c_str());
    (void)length;
    return root_opens;
}

// --list would read the machine's /sys and /dev on every input.
int list_serial_lines() { return 0; }
std::vector<serial_line> find_serial_lines() { return {}; }

}  // namespace tolvane

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    if (size == 0) return 0;
    const bool whole_entry = data[0] & 1;
    line_opens = !(data[0] & 2);
    root_opens = !(data[0] & 4);

    std::vector<std::unique_ptr<char[]>> words;
    for (size_t start = 1, end; start <= size && size > 1; start = end + 1) {
        end = start;
        while (end < size && data[end] != 0) ++end;
        words.emplace_back(new char[end - start + 1]);
        std::memcpy(words.back().get(), data + start, end - start);
        words.back()[end - start] = '\0';
    }
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.get());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    // The scanner's state and the settings scan_options does not set itself.
    const auto fresh_scan = [] {
        optind = 1;
        optpos = 1;
        opterr = 1;
        optarg = nullptr;
    };
    // --help, --version and --list end the scan early, and that is no fault.
    fresh_scan();
    settings s;
    const bool scanned_to_the_end = scan_options(argc, argv.data(), &s) == GO_ON;
    if (scanned_to_the_end) check_scan(argc, argv.data(), s);
    if (whole_entry) {
        fresh_scan();
        const int status = entry(argc, argv.data());
        if (status != 0 && status != 2 && status != -1) fault("an exit status the entry never gives");
    }
    return 0;
}
