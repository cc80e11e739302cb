// The config file's text, line by line: what each form becomes, and the
// line and message of each mistake.
#include "app/config_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane {

namespace {

// A section as one line of text: "[name@line] key=value@line ...".
std::string shown(const std::vector<config_section>& sections) {
    std::string text;
    for (const config_section& section : sections) {
        text += (text.empty() ? "[" : " [") + section.name + "@" + std::to_string(section.line) + "]";
        for (const config_entry& entry : section.entries)
            text += " " + entry.key + "=" + entry.value + "@" + std::to_string(entry.line);
    }
    return text;
}

}  // namespace

TEST(ConfigFile, EachFormOfLine) {
    struct Case {
        std::string text;
        std::string sections;  // as shown(), when it parses
        int error_line;        // else the line and the message
        std::string why;
    } cases[] = {
        {"", "", 0, ""},
        {"# only a comment\n\n   \n", "", 0, ""},
        {"[board]\ndevice = /dev/ttyUSB0\nbaudrate=921600\n", "[board@1] device=/dev/ttyUSB0@2 baudrate=921600@3", 0, ""},
        {"[a]\n  hex = true  # stamps too\n# x = y\n", "[a@1] hex=true@2", 0, ""},
        // A '#' inside a word is no comment: a pattern may hold one.
        {"[a]\nexpect = PASS#1\n", "[a@1] expect=PASS#1@2", 0, ""},
        {"[a]\nsend = \"run \\r\"\n", "[a@1] send=run \\r@2", 0, ""},
        {"[a]\nmap =\n", "[a@1] map=@2", 0, ""},
        {"[a]\nlog = x=y\n", "[a@1] log=x=y@2", 0, ""},
        {"[ spaced ]\n[b.2_x-y]\n", "[spaced@1] [b.2_x-y@2]", 0, ""},
        // Saved on Windows: a byte order mark, CR LF line ends, no last newline.
        {"\xEF\xBB\xBF[w]\r\nbaudrate = 57600\r\nhex = true", "[w@1] baudrate=57600@2 hex=true@3", 0, ""},
        {"[default]\nwait = true\n[esp]\ndevice = usb:A50285BI\n",
         "[default@1] wait=true@2 [esp@3] device=usb:A50285BI@4", 0, ""},
        {"device = /dev/ttyS0\n", "", 1, "device before any [NAME]"},
        {"[a]\n\njust words\n", "", 3, "neither [NAME] nor KEY = VALUE"},
        {"[a]\n= 5\n", "", 2, "no key before ="},
        {"[a\n", "", 1, "no ] after the section's name"},
        {"[a] b\n", "", 1, "no ] after the section's name"},
        {"[]\n", "", 1, "a section's name takes letters, digits, '-', '_' and '.' only"},
        {"[/dev/ttyS0]\n", "", 1, "a section's name takes letters, digits, '-', '_' and '.' only"},
        {"[two words]\n", "", 1, "a section's name takes letters, digits, '-', '_' and '.' only"},
        {"[a]\nhex = true\n[b]\n[a]\n", "", 4, "[a] again (first on line 1)"},
    };
    for (const Case& c : cases) {
        std::vector<config_section> sections;
        int line = 0;
        std::string why;
        const bool parsed = config_parse(c.text, &sections, &line, &why);
        EXPECT_EQ(parsed, c.why.empty()) << c.text;
        if (parsed) {
            EXPECT_EQ(shown(sections), c.sections) << c.text;
        } else {
            EXPECT_EQ(line, c.error_line) << c.text;
            EXPECT_EQ(why, c.why) << c.text;
        }
    }
}

}  // namespace tolvane
