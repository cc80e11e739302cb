#include "bench/wine.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "bench/procs.h"

namespace bench {

namespace {

std::string sh_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Quiet: a persistent server writes its whole object list when it ends,
// and must not hold any pipe of ours while it lives on.
bool quiet(const std::string& command) { return std::system((command + " </dev/null >/dev/null 2>&1").c_str()) == 0; }

bool is_dir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The server works in a directory named after the prefix's device and
// inode: that tells this prefix's server from any other on the machine.
std::string server_dir_of(const std::string& prefix) {
    struct stat st;
    if (stat(prefix.c_str(), &st) != 0) return "";
    char name[64];
    std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return name;
}

bool ends_with(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

bool is_our_server(const Wine& w, const std::string& pid) {
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    if (!std::getline(comm, name) || name.rfind("wineserver", 0) != 0) return false;
    char cwd[4096];
    const ssize_t n = readlink(("/proc/" + pid + "/cwd").c_str(), cwd, sizeof cwd - 1);
    return n > 0 && ends_with(std::string(cwd, static_cast<size_t>(n)), "/" + w.server_dir);
}

std::string port_link(const Wine& w, int number) { return w.prefix + "/dosdevices/com" + std::to_string(number); }

}  // namespace

Wine wine_start(const std::string& wine, const std::string& wineserver, const std::string& prefix,
                const std::string& exe) {
    Wine w;
    w.wine = find_program(wine);
    w.wineserver = find_program(wineserver);
    w.prefix = prefix;
    w.exe = exe;
    if (w.wine.empty()) w.missing = wine + " is not installed";
    else if (w.wineserver.empty()) w.missing = wineserver + " is not installed";
    else if (access(exe.c_str(), R_OK) != 0) w.missing = exe + " is not built";
    if (!w.missing.empty()) return w;
    // No window, no debug channels, no .NET or browser engine to install.
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    unsetenv("DISPLAY");
    if (std::system(("mkdir -p " + sh_quote(prefix)).c_str()) != 0) {
        w.why_not = "cannot make " + prefix;
        return w;
    }
    w.server_dir = server_dir_of(prefix);
    quiet(sh_quote(w.wineserver) + " -p");
    // A new prefix takes seconds to make; an existing one starts its services.
    if (!quiet(sh_quote(w.wine) + " wineboot") || !is_dir(prefix + "/dosdevices"))
        w.why_not = "wineboot did not make the prefix " + prefix;
    return w;
}

bool wine_ready(const Wine& w) { return w.missing.empty() && w.why_not.empty(); }

void wine_stop(Wine& w) {
    if (!w.missing.empty()) return;
    quiet(sh_quote(w.wineserver) + " -k");
}

bool wine_map_port(const Wine& w, int number, const std::string& path) {
    const std::string link = port_link(w, number);
    unlink(link.c_str());
    return symlink(path.c_str(), link.c_str()) == 0;
}

void wine_unmap_port(const Wine& w, int number) { unlink(port_link(w, number).c_str()); }

long long wineserver_cpu_ns(const Wine& w) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    long long total = 0;
    while (const dirent* e = readdir(proc)) {
        const std::string pid = e->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || !is_our_server(w, pid)) continue;
        const long long ns = cpu_ns(std::stoi(pid));
        if (ns > 0) total += ns;
    }
    closedir(proc);
    return total;
}

}  // namespace bench
