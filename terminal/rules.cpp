#include "terminal/rules.h"

#include <string>

#include "app/host.h"
#include "fileservice/rpc.h"
#include "link/link.h"
#include "terminal/console.h"

namespace tolvane {

namespace {

std::string kept_keys;

}  // namespace

void term_from_line(int symbol) {
    if (symbol == SYM_STX) {
        console_flush();  // the target's text shows before the request's trace
        rpc_serve();
    } else if (symbol != FORM_FEED) {
        console_put(symbol & 0xFF);
    }
}

bool term_from_key(int key) {
    if (key == KEY_QUIT) return false;
    link_put(key & 0xFF);
    return true;
}

void term_keep_key(int key) { kept_keys += static_cast<char>(key); }

void term_send_kept_keys() {
    for (char key : kept_keys) term_from_key(static_cast<unsigned char>(key));
    kept_keys.clear();
}

void term_drop_kept_keys() { kept_keys.clear(); }

void term_quit() {
    term_send_kept_keys();
    host_quit();
}

}  // namespace tolvane
