#include "app/lend.h"

#include "base/child.h"
#include "base/console.h"
#include "base/deadline.h"
#include "net/endpoint.h"
#include "terminal/share.h"

namespace tolvane {

namespace {

constexpr int CONNECT_MS = 5000;
// The owner lends between requests: one in progress may take a while.
constexpr int LENT_PATIENCE_MS = 30000;
// How long the owner gets to say the line is back before --lend ends.
constexpr int BACK_PATIENCE_MS = 10000;
constexpr int CHILD_LOOK_MS = 50;
// The command as the owner's console names it.
constexpr size_t NAME_MAX = 200;

// The owner's next answer line, within until; false when none came.
bool answer_line(endpoint* e, std::string* held, deadline until, std::string* line) {
    for (;;) {
        const size_t end = held->find('\n');
        if (end != std::string::npos) {
            *line = held->substr(0, end);
            held->erase(0, end + 1);
            return true;
        }
        if (until.passed() || held->size() > SHARE_CONTROL_MAX) return false;
        endpoint_wait_input(e, until.left_ms());
        unsigned char buffer[512];
        const long n = endpoint_read(e, buffer, sizeof buffer);
        if (n == ENDPOINT_GONE) return false;
        held->append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
}

bool send_all(endpoint* e, const std::string& text) {
    size_t done = 0;
    const deadline until = deadline::in(CONNECT_MS);
    while (done < text.size() && !until.passed()) {
        const long n = endpoint_write(e, reinterpret_cast<const unsigned char*>(text.data()) + done, text.size() - done);
        if (n == ENDPOINT_GONE) return false;
        done += static_cast<size_t>(n);
    }
    return done == text.size();
}

std::string command_name(const std::vector<std::string>& command) {
    std::string name;
    for (const std::string& word : command) name += (name.empty() ? "" : " ") + word;
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return name.substr(0, NAME_MAX);
}

// The line's device from the owner, or empty after saying why not.
std::string ask_for_line(endpoint* e, const std::string& share, const std::string& name, std::string* held) {
    std::string line;
    if (!send_all(e, std::string(SHARE_CONTROL_MAGIC, SHARE_CONTROL_MAGIC_SIZE) + "lend " + name + "\n") ||
        !answer_line(e, held, deadline::in(LENT_PATIENCE_MS), &line)) {
        console_error("lend: %s: no answer\n", share.c_str());
        return "";
    }
    if (line.compare(0, 5, "lent ") == 0 && line.size() > 5) return line.substr(5);
    console_error("lend: %s: %s\n", share.c_str(), line.c_str());
    return "";
}

}  // namespace

int lend_run(const std::string& share, const std::vector<std::string>& command) {
    if (command.empty()) {
        console_error("lend: no command: tolvane --lend SHARE -- COMMAND [ARG...]\n");
        return 2;
    }
    share_address address;
    std::string why;
    endpoint* e = share_address_parse(share, &address, &why) ? endpoint_connect(address, CONNECT_MS, &why) : nullptr;
    if (e == nullptr) {
        console_error("lend: %s: %s\n", share.c_str(), why.c_str());
        return 255;
    }
    std::string held;
    const std::string device = ask_for_line(e, share, command_name(command), &held);
    if (device.empty()) {
        endpoint_close(e);
        return 255;
    }
    int status = 127;
    if (child* c = child_start(command, device, &why)) {
        while (!child_ended(c, &status)) endpoint_wait_input(e, CHILD_LOOK_MS);
    } else {
        console_error("lend: %s: %s\n", command.front().c_str(), why.c_str());
    }
    // The line back before --lend ends, so that what comes next finds it.
    std::string line;
    const deadline back = deadline::in(BACK_PATIENCE_MS);
    if (send_all(e, "back\n"))
        while (answer_line(e, &held, back, &line) && line != "back") {
        }
    endpoint_close(e);
    return status;
}

}  // namespace tolvane
