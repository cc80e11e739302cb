#include "base/keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/settings.h"

namespace tolvane {

namespace {

constexpr int T = 0x14, Q = KEY_QUIT, A = 0x01;

// An entry as the table writes it: a key, or C(key) for a command.
constexpr int C(int key) { return KEY_COMMAND | key; }

std::vector<int> taken(key_queue& keys) {
    std::vector<int> entries;
    for (int e; (e = keys_take(keys)) >= 0;) entries.push_back(e);
    return entries;
}

}  // namespace

// What the keys typed become in the queue: keys in order, commands in
// their place among them, the command key's own escapes, and Ctrl-Q or
// the command key's q ending it all; reads may cut anywhere.
TEST(Keys, TheCommandKeyAmongTheKeys) {
    struct Case {
        const char* what;
        int command_key;
        std::vector<std::string> reads;
        std::vector<int> queued;
        bool quit;
    } cases[] = {
        {"plain keys", T, {"ab"}, {'a', 'b'}, false},
        {"a command among keys", T, {"a\x14tb"}, {'a', C('t'), 'b'}, false},
        {"the command key twice sends it", T, {"a\x14\x14" "b"}, {'a', T, 'b'}, false},
        {"the command key and Ctrl-Q send Ctrl-Q", T, {"a\x14\x11" "b"}, {'a', Q, 'b'}, false},
        {"q quits, the rest dropped", T, {"a\x14qb"}, {'a'}, true},
        {"Ctrl-Q quits", T, {"a\x11\x14t"}, {'a'}, true},
        {"the command key at the end of a read", T, {"a\x14", "t", "b"}, {'a', C('t'), 'b'}, false},
        {"the command key alone in a read, then Ctrl-Q", T, {"\x14", "\x11"}, {Q}, false},
        {"upper-case Q is a command", T, {"\x14Q"}, {C('Q')}, false},
        {"another command key", A, {"\x14\x01v\x01\x01"}, {T, C('v'), A}, false},
        {"no command key", NO_COMMAND_KEY, {"\x14t\x14"}, {T, 't', T}, false},
    };
    for (const Case& c : cases) {
        key_queue keys;
        keys_reset(keys);  // the quit flag is the program's
        keys_set_command_key(keys, c.command_key);
        for (const std::string& read : c.reads)
            keys_add(keys, reinterpret_cast<const unsigned char*>(read.data()), read.size());
        EXPECT_EQ(taken(keys), c.queued) << c.what;
        EXPECT_EQ(quit_requested(), c.quit) << c.what;
        keys_reset(keys);
    }
}

// While a line is waited for, keys go and commands are handed on in order.
TEST(Keys, WithoutALineTheCommandsAreActedOn) {
    key_queue keys;
    std::vector<int> seen;
    const command_action act = [](void* context, int key) { static_cast<std::vector<int>*>(context)->push_back(key); };
    const std::string typed = "x\x14vy\x14s\x14\x14";
    keys_add(keys, reinterpret_cast<const unsigned char*>(typed.data()), typed.size());
    keys_without_line(keys, act, &seen);
    EXPECT_EQ(seen, (std::vector<int>{'v', 's'}));
    EXPECT_EQ(keys_queued(keys), 0u);
    keys_add(keys, reinterpret_cast<const unsigned char*>(typed.data()), typed.size());
    keys_without_line(keys, nullptr, nullptr);
    EXPECT_EQ(seen.size(), 2u) << "no action: dropped";
}

}  // namespace tolvane
