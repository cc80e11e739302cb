#include "base/keys.h"

#include <cstdint>
#include <deque>

#include "base/console.h"
#include "base/settings.h"

namespace tolvane {

namespace {

bool quit = false;

// Queues one entry if there is room; says once that keys are dropped.
void queue(key_queue& keys, int entry) {
    if (keys.entries.size() >= KEY_QUEUE_MAX) {
        if (!keys.said_dropped) console_print("keys dropped: the line takes none\n");
        keys.said_dropped = true;
        return;
    }
    keys.entries.push_back(static_cast<uint16_t>(entry));
}

// The key typed after the command key: itself or Ctrl-Q go as keys, q
// ends as Ctrl-Q, anything else is a command.
void after_command_key(key_queue& keys, int key) {
    keys.after_command_key = false;
    if (key == keys.command_key || key == KEY_QUIT)
        queue(keys, key);
    else if (key == KEY_COMMAND_QUIT)
        quit = true;
    else
        queue(keys, KEY_COMMAND | key);
}

}  // namespace

void keys_set_command_key(key_queue& keys, int key) { keys.command_key = key; }

size_t keys_room(const key_queue& keys) {
    return keys.entries.size() >= KEY_QUEUE_MAX ? 0 : KEY_QUEUE_MAX - keys.entries.size();
}

size_t keys_queued(const key_queue& keys) { return keys.entries.size(); }

void keys_add(key_queue& keys, const unsigned char* typed, size_t count) {
    for (size_t i = 0; i < count && !quit; ++i) {
        const int key = typed[i];
        if (keys.after_command_key)
            after_command_key(keys, key);
        else if (key == KEY_QUIT)
            quit = true;
        else if (key == keys.command_key)
            keys.after_command_key = true;
        else
            queue(keys, key);
    }
}

int keys_take(key_queue& keys) {
    if (keys.entries.empty()) return -1;
    const int entry = keys.entries.front();
    keys.entries.pop_front();
    return entry;
}

int keys_peek(const key_queue& keys) { return keys.entries.empty() ? -1 : keys.entries.front(); }

void keys_clear(key_queue& keys) { keys.entries.clear(); }

void keys_without_line(key_queue& keys, command_action act, void* context) {
    std::deque<uint16_t> entries;
    entries.swap(keys.entries);
    for (const int entry : entries)
        if ((entry & KEY_COMMAND) && act) act(context, entry & 0xFF);
}

bool quit_requested() { return quit; }

void request_quit() { quit = true; }

void keys_reset(key_queue& keys) {
    keys.entries.clear();
    quit = false;
    keys.said_dropped = false;
    keys.after_command_key = false;
}

}  // namespace tolvane
