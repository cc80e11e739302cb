// Boards by name: the config file in a made-up home (HOME and
// XDG_CONFIG_HOME), its profiles over [default] and under the command line,
// its mistakes, and a board found by its USB serial number in a made-up
// sysfs (TOLVANE_TEST_ROOT) at every open.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "tests/fake_sysfs.h"
#include "tests/harness.h"
#include "tests/line_speed.h"

using namespace e2e;

namespace {

std::string unix_newlines(std::string s) {
    for (size_t at; (at = s.find("\r\n")) != std::string::npos;) s.erase(at, 1);
    return s;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

// The config file's place in a home of the test's own: under
// XDG_CONFIG_HOME, or under HOME when that is unset.
std::string config_path_of(const std::string& home, bool xdg = true) {
    return home + (xdg ? "/xdg" : "/.config") + "/tolvane/config";
}

// Starts tolvane with text as its config file in a fresh home; "{line}" in
// the text is the line's pty, known once the harness has made it, so the
// file is written just before the program runs.
Session start_with(const std::string& name, const std::string& text, const std::vector<std::string>& args,
                   Options options = {}, bool xdg = true) {
    const std::string home = scratch_dir(name);
    const std::string config = config_path_of(home, xdg);
    const std::string dir = config.substr(0, config.rfind('/'));
    mkdir(dir.substr(0, dir.rfind('/')).c_str(), 0755);
    mkdir(dir.c_str(), 0755);
    setenv("HOME", home.c_str(), 1);
    if (xdg)
        setenv("XDG_CONFIG_HOME", (home + "/xdg").c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    options.own_config = true;
    options.prepare_line = [config, text, before = options.prepare_line](int slave) {
        if (before) before(slave);
        std::ofstream(config) << (slave < 0 ? text : replaced(text, "{line}", ttyname(slave)));
    };
    return start(args, options);
}

// The environment the tests change, put back after each.
class Profiles : public testing::Test {
protected:
    void SetUp() override {
        const char* home = getenv("HOME");
        saved_home = home ? home : "";
    }
    void TearDown() override {
        setenv("HOME", saved_home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("TOLVANE_TEST_ROOT");
    }
    std::string saved_home;
};


}  // namespace

// Which speed wins: the command line over the profile, the profile over
// [default], [default] over the program's own 115200; a flag from the file
// takes as on the command line.
TEST_F(Profiles, TheCommandLineOverTheProfileOverDefault) {
    const std::string board = "[board]\ndevice = {line}\nbaudrate = 921600\nhex = true\n";
    struct Case {
        std::string config;
        std::vector<std::string> args;
        long baud;
        bool hex;
        bool xdg;
    } cases[] = {
        {board, {"-c", "board"}, 921600, true, true},
        {board, {"-c", "board"}, 921600, true, false},  // ~/.config without XDG_CONFIG_HOME
        {board, {"-b", "57600", "-c", "board"}, 57600, true, true},
        {board, {"-c", "board", "--baudrate", "57600"}, 57600, true, true},
        {"[default]\nbaudrate = 230400\n" + board, {"-c", "board"}, 921600, true, true},
        {"[default]\nbaudrate = 230400\nhex = true\n" + board, {"-c", "{line}"}, 230400, true, true},
        {"[default]\nhex = true  # everywhere\n[board]\ndevice = {line}\nhex = false\n", {"-c", "board"}, 115200,
         false, true},
        {"# nothing for this board\n[other]\nbaudrate = 921600\n", {"-c", "{line}"}, 115200, false, true},
    };
    for (const Case& c : cases) {
        const std::string what = c.config + " with " + c.args[1];
        Session run = start_with("profiles_win", c.config, c.args, {}, c.xdg);
        ASSERT_TRUE(console_wait_for(run, "Exit with Ctrl-Q\r\n\r\n")) << what << run.console_output;
        EXPECT_NE(run.console_output.find("on " + run.line.path + " with " + std::to_string(c.baud) + " Baud"),
                  std::string::npos)
            << what << run.console_output;
        EXPECT_EQ(line_speed::read(run.line.slave).baud, c.baud) << what;
        EXPECT_EQ(hex(line_read(run, 50)), hex(reset_sequence())) << what;
        run.console_output.clear();
        line_write(run, bytes("AB"));
        EXPECT_TRUE(console_wait_for(run, c.hex ? "41 42 " : "AB")) << what << run.console_output;
        end_with_ctrl_q(run);
        close_all(run);
    }
}

// Each mistake is a usage error that says where it is; nothing is opened.
TEST_F(Profiles, MistakesAreUsageErrorsNamingFileAndLine) {
    const std::string file = config_path_of(scratch_dir("profiles_bad"));
    struct Case {
        std::string config;
        std::vector<std::string> args;
        std::string said;
    } cases[] = {
        {"[board]\nbaudrate = fast\n", {"-q", "-c", "{line}"}, file + ":2: baudrate: option needs a whole number of Baud"},
        {"[a]\n\n[board]\nbaud = 9600\n", {"-q", "-c", "{line}"}, file + ":4: no such key: baud"},
        {"[board]\nhex = yes\n", {"-q", "-c", "{line}"}, file + ":2: hex: true or false"},
        {"[board]\nmap =\n", {"-q", "-c", "{line}"}, file + ":2: map: needs a value"},
        {"[board]\nlist = true\n", {"-q", "-c", "{line}"}, file + ":2: list: only on the command line"},
        {"[board]\ndevice = rfc2217://lab\n", {"-q", "-c", "{line}"},
         file + ":2: device: rfc2217://lab: no port (HOST:PORT)"},
        // Every section is checked, not only the one picked.
        {"[board]\ndevice = {line}\n[other]\npulse = cts\n", {"-q", "-c", "board"},
         file + ":4: pulse: option needs dtr or rts[:MS], MS up to 60000"},
        {"[default]\nhex = true\n[board]\n[esp]\n", {"-q", "-c", "bord"},
         "no profile bord in " + file + " (profiles: board, esp)"},
        {"", {"-q", "--config", "/nonexistent/tolvane.conf", "-c", "{line}"},
         "/nonexistent/tolvane.conf: No such file or directory"},
        {"", {"-q", "--config", "/dev/zero", "-c", "{line}"}, "/dev/zero: File too large"},
        {"", {"-q", "--config", "/", "-c", "{line}"}, "/: Is a directory"},
    };
    for (const Case& c : cases) {
        Session run = start_with("profiles_bad", c.config, c.args);
        EXPECT_EQ(exit_code(wait_exit(run)), 2) << c.said;
        EXPECT_EQ(unix_newlines(run.console_output), tolvane_path() + ": " + c.said + "\n");
        EXPECT_TRUE(line_drain(run, 50).empty()) << c.said;
        close_all(run);
    }
}

// A profile's watch steps count with the command line's -q as its own do;
// --config reads another file. (No file in the usual place is every other
// test's case: the harness points XDG_CONFIG_HOME where there is none.)
TEST_F(Profiles, ConfigNamedAndQuit) {
    const std::string other = scratch_dir("profiles_other") + "/boards.ini";
    Options other_file;
    other_file.prepare_line = [other](int slave) {
        std::ofstream(other) << "[lab]\nquit = true\ndevice = " << ttyname(slave) << "\n";
    };
    struct Case {
        std::string config;
        std::vector<std::string> args;
        int status;
        std::string said;
    } cases[] = {
        {"[board]\ndevice = {line}\nexpect = PASS\n", {"-q", "-c", "board"}, 2, "option cannot go with -q -- --expect"},
        {"[board]\ndevice = {line}\nquit = true\n", {"--fail", "FAIL", "-c", "board"}, 2,
         "option cannot go with -q -- --fail"},
        {"", {"--config", other, "-c", "lab", "hi"}, 0, ""},
        {"[lab]\nquit = false\n", {"-c", "lab", "--config", other, "hi"}, 0, ""},
    };
    for (const Case& c : cases) {
        Session run = start_with("profiles_quit", c.config, c.args, other_file);
        EXPECT_EQ(exit_code(wait_exit(run)), c.status) << c.said;
        const std::string said = unix_newlines(run.console_output);
        if (c.status == 2) {
            EXPECT_EQ(said.rfind(tolvane_path() + ": " + c.said + "\n", 0), 0u) << said;
            EXPECT_TRUE(line_drain(run, 50).empty()) << c.said;
        } else {
            EXPECT_EQ(said, "");
            EXPECT_EQ(hex(line_drain(run, 100)), hex(with_reset("hi \r")));
        }
        close_all(run);
    }
}

namespace {

// The made-up machine, its FTDI adapter's node on the run's pty (or on
// nothing: the board is not plugged in).
std::string usb_machine(const std::string& name) {
    const std::string root = scratch_dir(name);
    fake_sysfs::make_machine(root);
    unlink((root + "/dev/ttyUSB0").c_str());
    setenv("TOLVANE_TEST_ROOT", root.c_str(), 1);
    return root;
}

}  // namespace

// usb:SERIAL, in a profile or on -c, opens the line the board is on; one
// not plugged in is an open error naming it, or is waited for with -w.
TEST_F(Profiles, ABoardByItsUsbSerialNumber) {
    const std::string esp = "[esp]\ndevice = usb:A50285BI\nbaudrate = 921600\n";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-c", "esp"}, {"-c", "usb:A50285BI", "-b", "921600"}}) {
        const std::string root = usb_machine("profiles_usb");
        Options options;
        options.prepare_line = [root](int slave) {
            if (symlink(ttyname(slave), (root + "/dev/ttyUSB0").c_str()) != 0) std::abort();
        };
        Session run = start_with("profiles_usb_home", esp, args, options);
        ASSERT_TRUE(console_wait_for(run, "Exit with Ctrl-Q")) << run.console_output;
        EXPECT_NE(run.console_output.find(" with 921600 Baud"), std::string::npos) << run.console_output;
        EXPECT_EQ(line_speed::read(run.line.slave).baud, 921600);
        EXPECT_EQ(hex(line_read(run, 50)), hex(reset_sequence()));
        end_with_ctrl_q(run);
        close_all(run);
    }

    usb_machine("profiles_usb");
    Session absent = start_with("profiles_usb_home", esp, {"-q", "-c", "esp"});
    EXPECT_EQ(exit_code(wait_exit(absent)), 255);
    EXPECT_EQ(unix_newlines(absent.console_output), "open: usb:A50285BI: no such board plugged in\n");
    close_all(absent);
}

TEST_F(Profiles, WaitsForABoardByItsSerialNumberAndFindsItWhereverItIs) {
    const std::string root = usb_machine("profiles_usb_wait");
    Options no_line;
    no_line.line_pty = false;
    Session run = start_with("profiles_usb_home", "[esp]\ndevice = usb:A50285BI\nwait = true\n", {"-c", "esp", "hi"},
                             no_line);
    ASSERT_TRUE(console_wait_for(run, "waiting for usb:A50285BI (Ctrl-Q ends)\r\n")) << run.console_output;
    Pty board = open_pty();
    ASSERT_EQ(symlink(board.path.c_str(), (root + "/dev/ttyUSB0").c_str()), 0);
    EXPECT_EQ(hex(pty_io::read_exactly(board.master, with_reset("hi \r").size(), 3000)), hex(with_reset("hi \r")));
    ASSERT_TRUE(console_wait_for(run, "Exit with Ctrl-Q")) << run.console_output;
    // Unplugged, and back on another port: the same board by its number.
    unlink((root + "/dev/ttyUSB0").c_str());
    close_pty(board);
    ASSERT_TRUE(console_wait_for(run, "waiting for usb:A50285BI (Ctrl-Q ends)\r\n", 5000)) << run.console_output;
    rename((root + "/sys/class/tty/ttyUSB0").c_str(), (root + "/sys/class/tty/ttyUSB3").c_str());
    Pty again = open_pty();
    ASSERT_EQ(symlink(again.path.c_str(), (root + "/dev/ttyUSB3").c_str()), 0);
    EXPECT_TRUE(console_wait_for(run, "usb:A50285BI back\r\n", 5000)) << run.console_output;
    pty_io::write_all(again.master, bytes("up"));
    EXPECT_TRUE(console_wait_for(run, "up")) << run.console_output;
    console_type(run, {0x11});
    EXPECT_EQ(exit_code(wait_exit(run)), 0);
    close_pty(again);
    close_pty(run.console);
}

// --list shows each profile with its device, and where a board named by
// its serial number is plugged in now.
TEST_F(Profiles, ListShowsTheProfilesAndWhereTheirBoardsAre) {
    const std::string root = scratch_dir("profiles_list");
    fake_sysfs::make_machine(root);
    setenv("TOLVANE_TEST_ROOT", root.c_str(), 1);
    Session run = start_with("profiles_list_home",
                             "[default]\ndevice = /dev/ttyACM0\n[esp]\ndevice = usb:A50285BI\n[pico]\nhex = true\n",
                             {"--list"});
    EXPECT_EQ(exit_code(wait_exit(run)), 0);
    std::string expected;
    for (const auto& [name, about] : fake_sysfs::machine_lines()) expected += name + "  " + about + "\n";
    expected += "profiles in " + config_path_of(scratch_dir("profiles_list_home")) + ":\n" +
                "esp  usb:A50285BI -> /dev/ttyUSB0\n"
                "pico  /dev/ttyACM0\n";
    EXPECT_EQ(unix_newlines(run.console_output), expected);
    close_all(run);
}

// The plain terminal and the paced output as profile keys, and false
// taking plain back.
TEST_F(Profiles, PlainAndPacingAsKeys) {
    const struct {
        std::string config;
        std::string sent;
    } cases[] = {
        {"[board]\ndevice = {line}\nquit = true\nplain = true\noutput-delay = 5\noutput-line-delay = 5\n",
         std::string("a\x02 \r", 4)},
        {"[default]\nplain = true\n[board]\ndevice = {line}\nquit = true\nplain = false\n",
         std::string(50, '\b') + std::string("a\x10\x02 \r", 5)},
    };
    for (const auto& c : cases) {
        Session run = start_with("profiles_plain", c.config, {"-c", "board", "a\x02"});
        EXPECT_EQ(exit_code(wait_exit(run)), 0) << c.config;
        EXPECT_EQ(hex(line_drain(run, 100)), hex(bytes(c.sent))) << c.config;
        close_all(run);
    }
}
