#include "terminal/rules.h"

#include "fileservice/rpc.h"
#include "link/link.h"

namespace tolvane {

void term_from_line(int symbol, void (*console_put)(int byte)) {
    if (symbol == SYM_STX)
        rpc_serve();
    else if (symbol != FORM_FEED)
        console_put(symbol & 0xFF);
}

bool term_from_key(int key) {
    if (key == KEY_QUIT) return false;
    link_put(key & 0xFF);
    return true;
}

}  // namespace tolvane
