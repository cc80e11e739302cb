#include "bench/file_service.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>

#include "bench/target_line.h"
#include "client/hostfs.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

std::string file_content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The measured part, with the program's CPU and the wall time around it.
template <typename Work>
Flow timed(pid_t pid, Work work) {
    Flow f;
    const long long cpu_before = cpu_ns(pid);
    const auto start = Clock::now();
    f.ok = work();
    f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.cpu_seconds = static_cast<double>(cpu_ns(pid) - cpu_before) / 1e9;
    f.ok = f.ok && !target_failed();
    return f;
}

}  // namespace

Flow read_through(pid_t pid, const std::string& name, const std::string& expected, long request) {
    std::string got(expected.size(), '\0');
    Flow f = timed(pid, [&] {
        const tolvane::host_file file = tolvane::host_fopen(name.c_str(), "rb");
        if (file == 0) return false;
        size_t done = 0;
        while (done < got.size()) {
            const long want = static_cast<long>(std::min(got.size() - done, static_cast<size_t>(request)));
            const long n = tolvane::host_fread(&got[done], want, file);
            done += static_cast<size_t>(n);
            if (n < want) break;
        }
        return tolvane::host_fclose(file) == 0 && done == got.size();
    });
    f.ok = f.ok && got == expected;
    return f;
}

Flow write_through(pid_t pid, const std::string& name, const std::string& host_path, const std::string& data,
                   long request) {
    Flow f = timed(pid, [&] {
        const tolvane::host_file file = tolvane::host_fopen(name.c_str(), "wb");
        if (file == 0) return false;
        for (size_t done = 0; done < data.size();) {
            const long n = static_cast<long>(std::min(data.size() - done, static_cast<size_t>(request)));
            tolvane::host_fwrite(&data[done], n, file);
            done += static_cast<size_t>(n);
        }
        // Writes are not answered; the close's answer says all have landed.
        return tolvane::host_fclose(file) == 0;
    });
    f.ok = f.ok && (host_path.empty() || file_content(host_path) == data);
    return f;
}

std::vector<double> getc_turnarounds(const std::string& name, const std::string& expected, int count) {
    std::vector<double> us;
    const tolvane::host_file file = tolvane::host_fopen(name.c_str(), "rb");
    if (file == 0) return {};
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const int c = tolvane::host_fgetc(file);
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        if (c != static_cast<unsigned char>(expected[static_cast<size_t>(i)])) return {};
    }
    if (tolvane::host_fclose(file) != 0 || target_failed()) return {};
    return us;
}

}  // namespace bench
