#include "base/keys.h"

#include <cstring>
#include <deque>

#include "base/console.h"

namespace tolvane {

namespace {

std::deque<unsigned char> queue;
bool quit = false;
bool said_dropped = false;

}  // namespace

size_t keys_room() { return queue.size() >= KEY_QUEUE_MAX ? 0 : KEY_QUEUE_MAX - queue.size(); }

size_t keys_queued() { return queue.size(); }

void keys_add(const unsigned char* keys, size_t count) {
    if (quit) return;
    const void* quit_key = std::memchr(keys, KEY_QUIT, count);
    if (quit_key) {
        count = static_cast<size_t>(static_cast<const unsigned char*>(quit_key) - keys);
        quit = true;
    }
    if (count > keys_room()) {
        if (!said_dropped) console_print("keys dropped: the line takes none\n");
        said_dropped = true;
        count = keys_room();
    }
    queue.insert(queue.end(), keys, keys + count);
}

int keys_take() {
    if (queue.empty()) return -1;
    const int key = queue.front();
    queue.pop_front();
    return key;
}

void keys_clear() { queue.clear(); }

bool quit_requested() { return quit; }

void request_quit() { quit = true; }

void keys_reset() {
    queue.clear();
    quit = false;
    said_dropped = false;
}

}  // namespace tolvane
