#include "app/config_file.h"

#include <cctype>

namespace tolvane {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(const std::string& text) {
    size_t start = 0, end = text.size();
    while (start < end && is_blank(text[start])) ++start;
    while (end > start && is_blank(text[end - 1])) --end;
    return text.substr(start, end - start);
}

// The line without its comment: a '#' that begins the line or follows a
// blank, so that "expect = PASS#1" keeps its '#'.
std::string without_comment(const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' && (i == 0 || is_blank(line[i - 1]))) return line.substr(0, i);
    return line;
}

// Names -c can take: no path, no URL, no blank.
bool is_section_name(const std::string& name) {
    if (name.empty()) return false;
    for (const char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') return false;
    return true;
}

// A value in double quotes keeps its blanks.
std::string unquoted(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') return value.substr(1, value.size() - 2);
    return value;
}

bool parse_section(const std::string& text, int number, std::vector<config_section>* sections, std::string* why) {
    if (text.back() != ']') {
        *why = "no ] after the section's name";
        return false;
    }
    const std::string name = trimmed(text.substr(1, text.size() - 2));
    if (!is_section_name(name)) {
        *why = "a section's name takes letters, digits, '-', '_' and '.' only";
        return false;
    }
    for (const config_section& section : *sections) {
        if (section.name != name) continue;
        *why = "[" + name + "] again (first on line " + std::to_string(section.line) + ")";
        return false;
    }
    sections->push_back({name, number, {}});
    return true;
}

bool parse_entry(const std::string& text, int number, std::vector<config_section>* sections, std::string* why) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
        *why = "neither [NAME] nor KEY = VALUE";
        return false;
    }
    const std::string key = trimmed(text.substr(0, equals));
    if (key.empty()) {
        *why = "no key before =";
        return false;
    }
    if (sections->empty()) {
        *why = key + " before any [NAME]";
        return false;
    }
    sections->back().entries.push_back({key, unquoted(trimmed(text.substr(equals + 1))), number});
    return true;
}

}  // namespace

bool config_parse(const std::string& text, std::vector<config_section>* sections, int* error_line,
                  std::string* why) {
    sections->clear();
    const std::string bom = "\xEF\xBB\xBF";  // as some Windows editors save
    size_t at = text.compare(0, bom.size(), bom) == 0 ? bom.size() : 0;
    for (int number = 1; at < text.size(); ++number) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string content = trimmed(without_comment(line));
        if (content.empty()) continue;
        const bool parsed = content[0] == '[' ? parse_section(content, number, sections, why)
                                              : parse_entry(content, number, sections, why);
        if (!parsed) {
            *error_line = number;
            return false;
        }
    }
    return true;
}

}  // namespace tolvane
