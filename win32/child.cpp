#include "base/child.h"

#include <windows.h>

namespace tolvane {

struct child {
    HANDLE process = nullptr;
};

namespace {

// A word as CreateProcess's parser reads it back: quoted, its quotes and
// the backslashes before them escaped.
std::string quoted(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
    std::string q = "\"";
    size_t slashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++slashes;
        } else {
            if (c == '"') q.append(slashes + 1, '\\');
            slashes = 0;
        }
        q += c;
    }
    q.append(slashes, '\\');
    return q + "\"";
}

child* spawn(std::string line, const std::string& device, std::string* why) {
    SetEnvironmentVariableA("TOLVANE_DEVICE", device.c_str());  // inherited by the child alone
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION info{};
    const BOOL made = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &info);
    SetEnvironmentVariableA("TOLVANE_DEVICE", nullptr);
    if (!made) {
        *why = "cannot start it (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    CloseHandle(info.hThread);
    child* c = new child;
    c->process = info.hProcess;
    return c;
}

}  // namespace

child* child_start(const std::vector<std::string>& argv, const std::string& device, std::string* why) {
    if (argv.empty()) {
        *why = "no command";
        return nullptr;
    }
    std::string line;
    for (const std::string& a : argv) line += (line.empty() ? "" : " ") + quoted(a);
    return spawn(line, device, why);
}

child* child_start_shell(const std::string& command, const std::string& device, std::string* why) {
    return spawn("cmd /c " + command, device, why);
}

bool child_ended(child* c, int* status) {
    if (WaitForSingleObject(c->process, 0) != WAIT_OBJECT_0) return false;
    DWORD code = 255;
    GetExitCodeProcess(c->process, &code);
    CloseHandle(c->process);
    delete c;
    *status = static_cast<int>(code & 0xFF);
    return true;
}

}  // namespace tolvane
