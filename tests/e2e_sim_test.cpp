// The simulated board driven through the real tolvane: tolvane-sim on its
// pseudo-terminal, tolvane on that line with its console on another pty,
// and the test typing at the board's prompt and looking at the host files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>

#include "tests/harness.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

const std::string PROMPT = "sim> ";
const std::string GREETING = "\r\ntolvane-sim: a small board on a simulated serial line. Type help.\r\n" + PROMPT;

struct Sim {
    pid_t pid = -1;
    int out = -1;      // its standard output and error
    std::string line;  // the path it printed
    std::string said;  // everything it printed
};

bool past(Clock::time_point deadline) { return Clock::now() >= deadline; }

Clock::time_point in_ms(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

// Reads the simulator's output until text has appeared after position from.
bool sim_wait_for(Sim& sim, const std::string& text, size_t from = 0, int timeout_ms = 5000) {
    const auto deadline = in_ms(timeout_ms);
    while (sim.said.find(text, from) == std::string::npos) {
        if (past(deadline)) return false;
        pollfd p{sim.out, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char buf[512];
        const ssize_t n = read(sim.out, buf, sizeof buf);
        if (n <= 0) return false;
        sim.said.append(buf, static_cast<size_t>(n));
    }
    return true;
}

Sim start_sim(std::vector<std::string> args) {
    Sim sim;
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) std::abort();
    args.insert(args.begin(), TOLVANE_SIM_BINARY);
    sim.pid = fork();
    if (sim.pid == 0) {
        dup2(pipe_fds[1], 1);
        dup2(pipe_fds[1], 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    sim.out = pipe_fds[0];
    if (sim_wait_for(sim, "\n")) sim.line = sim.said.substr(0, sim.said.find('\n'));
    return sim;
}

// Waits for the simulator to end by itself; its exit status, or -1.
int sim_exit(Sim& sim, int timeout_ms = 5000) {
    const auto deadline = in_ms(timeout_ms);
    int status = 0;
    while (waitpid(sim.pid, &status, WNOHANG) != sim.pid) {
        if (past(deadline)) {
            kill(sim.pid, SIGKILL);
            waitpid(sim.pid, &status, 0);
            status = -1;
            break;
        }
        // Keep its pipe drained; after its end of file, just pause.
        pollfd p{sim.out, POLLIN, 0};
        char buf[512];
        const ssize_t n = poll(&p, 1, 20) > 0 ? read(sim.out, buf, sizeof buf) : 0;
        if (n > 0) sim.said.append(buf, static_cast<size_t>(n));
        else poll(nullptr, 0, 5);
    }
    sim.pid = -1;
    close(sim.out);
    return exit_code(status);
}

int stop_sim(Sim& sim) {
    kill(sim.pid, SIGTERM);
    return sim_exit(sim);
}

// Reads tolvane's console until text has appeared after position from.
bool console_wait_after(Session& run, const std::string& text, size_t from, int timeout_ms = 5000) {
    const auto deadline = in_ms(timeout_ms);
    while (run.console_output.find(text, from) == std::string::npos) {
        if (past(deadline)) return false;
        console_drain(run, 20);
    }
    return true;
}

// tolvane on the board's line, the board's first prompt on the console.
Session start_tolvane(const Sim& sim, const std::string& workdir) {
    Options options;
    options.workdir = workdir;
    options.line_pty = false;
    Session run = start({"-c", sim.line}, options);
    EXPECT_TRUE(console_wait_for(run, GREETING)) << run.console_output;
    EXPECT_TRUE(console_wait_raw(run));
    return run;
}

void end_tolvane(Session& run) {
    console_type(run, {0x11});
    EXPECT_EQ(exit_code(wait_exit(run)), 0);
    close_pty(run.console);
}

// Types a command line; returns the board's answer between the echoed line
// and the next prompt.
std::string command(Session& run, const std::string& line) {
    const size_t from = run.console_output.size();
    console_type(run, bytes(line + "\r"));
    const std::string echoed = line + "\r\n";
    if (!console_wait_after(run, echoed, from) || !console_wait_after(run, PROMPT, from + echoed.size()))
        return "no prompt after " + line + ": " + run.console_output.substr(from);
    const size_t start = run.console_output.find(echoed, from) + echoed.size();
    return run.console_output.substr(start, run.console_output.find(PROMPT, start) - start);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// A board with tolvane on its line, in a scratch directory.
class Board : public ::testing::Test {
protected:
    void SetUp() override {
        dir = scratch_dir(std::string("sim_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        sim = start_sim({"-v"});
        ASSERT_FALSE(sim.line.empty()) << sim.said;
        run = start_tolvane(sim, dir);
    }
    void TearDown() override {
        if (run.pid > 0) end_tolvane(run);
        if (sim.pid > 0) {
            EXPECT_EQ(stop_sim(sim), 0) << sim.said;
        }
    }
    std::string at(const std::string& name) const { return dir + "/" + name; }

    std::string dir;
    Sim sim;
    Session run;
};

TEST_F(Board, ResetLeavesAnEmptyLineAndCommandsRun) {
    EXPECT_EQ(command(run, "echo hi  there"), "hi there\r\n");
    // Everything after the banner: no trace of the 50 backspaces.
    const std::string hint = "Exit with Ctrl-Q\r\n\r\n";
    const size_t hint_at = run.console_output.find(hint);
    ASSERT_NE(hint_at, std::string::npos);
    EXPECT_EQ(run.console_output.substr(hint_at + hint.size()),
              GREETING + "echo hi  there\r\nhi there\r\n" + PROMPT);
    EXPECT_TRUE(sim_wait_for(sim, "host attached\n")) << sim.said;
}

TEST_F(Board, LineEditing) {
    // DEL on the console reaches the board as backspace and rubs out.
    size_t from = run.console_output.size();
    console_type(run, bytes("ecx\x7fho ab\b\bx\r"));
    ASSERT_TRUE(console_wait_after(run, "\r\nx\r\n" + PROMPT, from)) << run.console_output.substr(from);
    EXPECT_EQ(run.console_output.substr(from), "ecx\b \bho ab\b \b\b \bx\r\nx\r\n" + PROMPT);

    // LF ends a line too; CR LF counts once; Ctrl-C drops the line.
    from = run.console_output.size();
    console_type(run, bytes("echo one\r\necho two\nnever\x03" "echo three\r"));
    ASSERT_TRUE(console_wait_after(run, "three\r\n" + PROMPT, from)) << run.console_output.substr(from);
    EXPECT_EQ(run.console_output.substr(from), "echo one\r\none\r\n" + PROMPT + "echo two\r\ntwo\r\n" + PROMPT +
                                                   "never^C\r\n" + PROMPT + "echo three\r\nthree\r\n" + PROMPT);

    // A line too long for the board rings the bell and keeps what fits.
    from = run.console_output.size();
    console_type(run, bytes("echo " + std::string(200, 'x') + "\r"));
    ASSERT_TRUE(console_wait_after(run, PROMPT, from + 200)) << run.console_output.substr(from);
    const std::string answer = run.console_output.substr(from);
    EXPECT_EQ(std::count(answer.begin(), answer.end(), '\a'), 5);
    EXPECT_NE(answer.find("\r\n" + std::string(195, 'x') + "\r\n"), std::string::npos) << answer;
}

TEST_F(Board, LsListsTheHostDirectory) {
    write_file(at("a.txt"), "hello");
    write_file(at("notes.txt"), "one\ntwo\n");
    write_file(at(".hidden"), "x");
    mkdir(at("sub").c_str(), 0755);
    write_file(at("sub/deep.txt"), "deep\n");
    struct tm when = {};
    when.tm_year = 2021 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 4;
    when.tm_hour = 5;
    when.tm_min = 6;
    when.tm_sec = 8;
    when.tm_isdst = -1;
    const struct utimbuf times = {std::mktime(&when), std::mktime(&when)};
    ASSERT_EQ(utime(at("a.txt").c_str(), &times), 0);
    ASSERT_EQ(utime(at("sub").c_str(), &times), 0);
    ASSERT_EQ(utime(at("sub/deep.txt").c_str(), &times), 0);

    const std::string all = command(run, "ls");
    EXPECT_NE(all.find("a.txt                  5  2021-03-04 05:06:08\r\n"), std::string::npos) << all;
    EXPECT_NE(all.find("sub                <DIR>  2021-03-04 05:06:08\r\n"), std::string::npos) << all;
    EXPECT_NE(all.find("notes.txt              8  "), std::string::npos) << all;
    EXPECT_EQ(all.find("hidden"), std::string::npos) << all;
    EXPECT_NE(all.find("\r\n3 entries\r\n"), std::string::npos) << all;

    const std::string txt = command(run, "ls *.txt");
    EXPECT_EQ(txt.find("sub"), std::string::npos) << txt;
    EXPECT_NE(txt.find("\r\n2 entries\r\n"), std::string::npos) << txt;

    EXPECT_EQ(command(run, "ls sub/*"), "deep.txt               5  2021-03-04 05:06:08\r\n1 entry\r\n");
    EXPECT_EQ(command(run, "ls *.none"), "ls: no match for *.none\r\n");
}

TEST_F(Board, FileCommandsChangeTheHostFiles) {
    EXPECT_EQ(command(run, "put note.txt hello  world"), "");
    EXPECT_EQ(read_file(at("note.txt")), "hello world\n");
    EXPECT_EQ(command(run, "append note.txt more"), "");
    EXPECT_EQ(read_file(at("note.txt")), "hello world\nmore\n");
    EXPECT_EQ(command(run, "cat note.txt"), "hello world\r\nmore\r\n");
    EXPECT_EQ(command(run, "head note.txt 1"), "hello world\r\n");
    EXPECT_EQ(command(run, "head note.txt"), "hello world\r\nmore\r\n");
    EXPECT_EQ(command(run, "stat note.txt"), "note.txt: 17 bytes\r\n");

    EXPECT_EQ(command(run, "cp note.txt copy.txt"), "");
    EXPECT_EQ(read_file(at("copy.txt")), "hello world\nmore\n");
    EXPECT_EQ(command(run, "mv note.txt memo.txt"), "");
    EXPECT_FALSE(exists(at("note.txt")));
    EXPECT_EQ(read_file(at("memo.txt")), "hello world\nmore\n");
    EXPECT_EQ(command(run, "rm memo.txt"), "");
    EXPECT_FALSE(exists(at("memo.txt")));

    // put with no text empties the file.
    EXPECT_EQ(command(run, "put copy.txt"), "");
    EXPECT_EQ(read_file(at("copy.txt")), "");
}

TEST_F(Board, LongTextsAndBinaryFilesCrossTheLineWhole) {
    // More than one request's worth of text (79 bytes each).
    std::string words;
    for (int i = 0; i < 30; ++i) words += (i ? " w" : "w") + std::to_string(i);
    EXPECT_EQ(command(run, "put long.txt " + words), "");
    EXPECT_EQ(read_file(at("long.txt")), words + "\n");

    // A long name, and a text of exactly 79 bytes (so no field is cut).
    const std::string longest(78, 'n');
    EXPECT_EQ(command(run, "put " + longest + " " + std::string(78, 't')), "");
    EXPECT_EQ(read_file(at(longest)), std::string(78, 't') + "\n");

    // A file of more than one read's worth, with the link's control bytes.
    std::string binary;
    for (int i = 0; i < 150; ++i) binary += static_cast<char>(i % 2 ? 0x02 + i % 3 : 0x10);
    binary += "end";
    write_file(at("bin.dat"), binary);
    EXPECT_EQ(command(run, "cat bin.dat"), binary + "\r\n");
    EXPECT_EQ(command(run, "cp bin.dat bin2.dat"), "");
    EXPECT_EQ(read_file(at("bin2.dat")), binary);
    EXPECT_EQ(command(run, "stat bin.dat"), "bin.dat: 153 bytes\r\n");

    // A line longer than the board's line buffer still counts as one.
    write_file(at("wide.txt"), std::string(300, 'a') + "\nsecond\nthird\n");
    EXPECT_EQ(command(run, "head wide.txt 2"), std::string(300, 'a') + "\r\nsecond\r\n");
}

TEST_F(Board, ErrorsAreReportedAndTheBoardGoesOn) {
    EXPECT_EQ(command(run, "cat missing.txt"), "cat: cannot open missing.txt\r\n");
    EXPECT_EQ(command(run, "head missing.txt"), "head: cannot open missing.txt\r\n");
    EXPECT_EQ(command(run, "stat missing.txt"), "stat: cannot open missing.txt\r\n");
    EXPECT_EQ(command(run, "rm missing.txt"), "rm: cannot remove missing.txt\r\n");
    EXPECT_EQ(command(run, "mv missing.txt b"), "mv: cannot rename missing.txt to b\r\n");
    EXPECT_EQ(command(run, "cp missing.txt b"), "cp: cannot open missing.txt\r\n");
    write_file(at("a"), "a\n");
    EXPECT_EQ(command(run, "cp a no/such/dir/b"), "cp: cannot create no/such/dir/b\r\n");
    EXPECT_EQ(command(run, "put no/such/dir/b x"), "put: cannot open no/such/dir/b\r\n");
    EXPECT_EQ(command(run, "head a lots"), "head: not a count: lots\r\n");
    EXPECT_EQ(command(run, "cat"), "usage: cat FILE\r\n");
    EXPECT_EQ(command(run, "mv a"), "usage: mv OLD NEW\r\n");
    EXPECT_EQ(command(run, "frob x"), "frob: unknown command, try help\r\n");
    EXPECT_EQ(command(run, "echo still here"), "still here\r\n");
    EXPECT_FALSE(exists(at("b")));
}

TEST_F(Board, HelpListsEveryCommand) {
    const std::string help = command(run, "help");
    for (const char* name : {"help", "echo", "ls", "cat", "head", "stat", "put", "append", "cp", "mv", "rm"})
        EXPECT_NE(help.find("\r\n  " + std::string(name) + " "), std::string::npos) << name << "\n" << help;
}

TEST(Sim, QuitRunReachesTheShellAndLeavesNothingForTheNextHost) {
    Sim sim = start_sim({"-v"});
    ASSERT_FALSE(sim.line.empty()) << sim.said;
    Options quiet;
    quiet.line_pty = false;
    Session once = start({"-q", "-c", sim.line, "echo", "hello"}, quiet);
    EXPECT_EQ(exit_code(wait_exit(once)), 0);
    close_pty(once.console);
    ASSERT_TRUE(sim_wait_for(sim, "run: echo hello\n")) << sim.said;
    ASSERT_TRUE(sim_wait_for(sim, "host gone\n", sim.said.find("run: echo hello"))) << sim.said;

    // The board's answer went nowhere; the next host starts on a quiet line.
    Session run = start_tolvane(sim, scratch_dir("sim_quit_run"));
    EXPECT_EQ(command(run, "echo again"), "again\r\n");
    EXPECT_EQ(run.console_output.find("hello"), std::string::npos) << run.console_output;
    end_tolvane(run);
    EXPECT_EQ(stop_sim(sim), 0) << sim.said;
}

TEST(Sim, RequestWithoutHostFailsAfterItsTimeout) {
    Sim sim = start_sim({"-t", "100"});
    ASSERT_FALSE(sim.line.empty()) << sim.said;
    // A listener on the line that does not serve requests.
    Session listener;
    listener.line.master = open(sim.line.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(listener.line.master, 0);
    line_write(listener, bytes("cat a.txt\r"));
    std::string seen;
    const auto deadline = in_ms(5000);
    while (seen.find("running?)\r\n" + PROMPT) == std::string::npos && !past(deadline)) {
        const Bytes got = line_drain(listener, 20);
        seen.append(got.begin(), got.end());
    }
    EXPECT_NE(seen.find("cat a.txt\r\n\x02" "cat: no answer from the host (is tolvane running?)\r\n" + PROMPT),
              std::string::npos)
        << seen;
    close(listener.line.master);
    EXPECT_EQ(stop_sim(sim), 0) << sim.said;
}

TEST(Sim, OnceEndsWithTheFirstHostAndRemovesWhatItMade) {
    const std::string dir = scratch_dir("sim_once");
    const std::string file = dir + "/line.txt";
    const std::string link = dir + "/line";
    Sim sim = start_sim({"-o", "-f", file, "-l", link});
    ASSERT_FALSE(sim.line.empty()) << sim.said;
    EXPECT_EQ(read_file(file), sim.line + "\n");
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.line);

    // tolvane opens the line by the link.
    Options options;
    options.line_pty = false;
    Session run = start({"-c", link}, options);
    ASSERT_TRUE(console_wait_for(run, GREETING)) << run.console_output;
    ASSERT_TRUE(console_wait_raw(run));
    end_tolvane(run);
    EXPECT_EQ(sim_exit(sim), 0) << sim.said;
    EXPECT_FALSE(exists(file));
    EXPECT_FALSE(exists(link));
}

TEST(Sim, BadOptionsPrintUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"-x"}, {"-t", "0"}, {"-t", "9z"}, {"extra"}}) {
        Sim sim = start_sim(args);
        EXPECT_EQ(sim_exit(sim), 2) << args[0];
        EXPECT_NE(sim.said.find("usage: "), std::string::npos) << sim.said;
    }
}

// make demo's script, in a scratch directory: the board's prompt, a file
// listing through tolvane, Ctrl-Q, and nothing left running.
TEST(Demo, ScriptRunsTolvaneOnTheBoardAndLeavesNothingRunning) {
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // orphans come to us
    const std::string dir = scratch_dir("sim_demo");
    const std::string build = tolvane_path().substr(0, tolvane_path().rfind('/'));
    Session run;
    run.console = open_pty();
    run.pid = fork();
    if (run.pid == 0) {
        setsid();
        const int console = open(run.console.path.c_str(), O_RDWR);
        if (console < 0) _exit(120);
        dup2(console, 0);
        dup2(console, 1);
        dup2(console, 2);
        const std::string demo = dir + "/files";
        execl("/bin/sh", "sh", TOLVANE_SOURCE_DIR "/sim/demo.sh", build.c_str(), demo.c_str(), nullptr);
        _exit(127);
    }
    ASSERT_TRUE(console_wait_for(run, GREETING)) << run.console_output;
    const std::string listing = command(run, "ls");
    EXPECT_NE(listing.find("hello.txt"), std::string::npos) << listing;
    EXPECT_NE(listing.find("<DIR>"), std::string::npos) << listing;
    EXPECT_EQ(command(run, "cat hello.txt"), "Hello from the host!\r\n");
    console_type(run, {0x11});
    EXPECT_EQ(exit_code(wait_exit(run)), 0) << run.console_output;
    close_pty(run.console);
    int status;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "a process of the demo is still running";
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace
