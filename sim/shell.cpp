#include "sim/shell.h"

#include <deque>
#include <string>
#include <vector>

#include "sim/commands.h"
#include "sim/log.h"
#include "sim/output.h"

namespace sim {

namespace {

constexpr int KEY_CTRL_C = 0x03;
constexpr int KEY_BACKSPACE = 0x08;
constexpr int KEY_DEL = 0x7F;
constexpr int FRAME_MARK = 0x100;

std::string input;
bool last_was_cr = false;
std::deque<int> held_keys;

void prompt() { put_text(SHELL_PROMPT); }

Words split(const std::string& text) {
    Words words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

void end_line() {
    put_text("\r\n");
    const std::string line = input;
    input.clear();
    const Words words = split(line);
    if (!words.empty()) {
        std::string shown = words[0];
        for (std::size_t i = 1; i < words.size(); ++i) shown += " " + words[i];
        log_note("run: %s", shown.c_str());
        run_command(words);
    }
    prompt();
}

void rub_out() {
    if (input.empty()) return;
    input.pop_back();
    put_text("\b \b");
}

void cancel_line() {
    input.clear();
    put_text("^C\r\n");
    prompt();
}

void add_char(int c) {
    if (static_cast<int>(input.size()) >= SHELL_LINE_MAX) {
        put_text("\a");
        return;
    }
    input += static_cast<char>(c);
    const char echo[2] = {static_cast<char>(c), '\0'};
    put_text(echo);
}

void take(int symbol) {
    if (symbol & FRAME_MARK) return;  // frame marks mean nothing to the shell
    const bool after_cr = last_was_cr;
    last_was_cr = symbol == '\r';
    if (symbol == '\r' || (symbol == '\n' && !after_cr)) {
        end_line();
    } else if (symbol == KEY_BACKSPACE || symbol == KEY_DEL) {
        rub_out();
    } else if (symbol == KEY_CTRL_C) {
        cancel_line();
    } else if (symbol >= 0x20) {
        add_char(symbol);
    }
}

}  // namespace

void shell_greet() {
    input.clear();
    held_keys.clear();
    last_was_cr = false;
    put_text("\r\ntolvane-sim: a small board on a simulated serial line. Type help.\r\n");
    prompt();
}

void shell_input(int symbol) {
    take(symbol);
    while (!held_keys.empty()) {
        const int key = held_keys.front();
        held_keys.pop_front();
        take(key);
    }
}

void shell_stray_byte(int byte) { held_keys.push_back(byte); }

}  // namespace sim
