#include "bench/bare_requests.h"

#include "link/link.h"

namespace bench {

namespace {

constexpr uint32_t HANDLE = 1;

// A write's data to its ETX, each byte held against the content from
// where the file stands; false once one differs or goes past its end.
bool take_written(BareFile& file, bool (*line_up)()) {
    using namespace tolvane;
    const std::string& content = *file.content;
    bool same = true;
    for (int s = link_get(); s != SYM_ETX && line_up(); s = link_get()) {
        same = same && file.at < content.size() && static_cast<unsigned char>(content[file.at]) == (s & 0xFF);
        ++file.at;
    }
    return same;
}

}  // namespace

void bare_answer(BareFile& file, bool (*line_up)()) {
    using namespace tolvane;
    const std::string& content = *file.content;
    link_put(SYM_ETX);
    switch (link_get()) {
    case 0: {  // open: the name and mode are not looked at
        char text[LINK_STRING_MAX + 1];
        link_get_string(text);
        link_get_string(text);
        file.at = 0;
        file.written_as_content = true;
        link_put_u32(HANDLE);
        break;
    }
    case 1: {  // read
        const int32_t count = static_cast<int32_t>(link_get_u32());
        link_get_u32();
        int32_t sent = 0;
        for (; sent < count && file.at < content.size(); ++sent)
            link_put(static_cast<unsigned char>(content[file.at++]));
        if (sent < count) link_put(SYM_ETX);
        break;
    }
    case 2:  // write: no answer
        link_get_u32();
        file.written_as_content = take_written(file, line_up) && file.written_as_content;
        break;
    case 3:  // close: -1 when what was written is not the content
        link_get_u32();
        link_put_u16(file.written_as_content ? 0 : 0xFFFF);
        break;
    case 4:  // get character
        link_get_u32();
        link_put_u16(file.at < content.size() ? static_cast<unsigned char>(content[file.at++]) : 0xFFFF);
        break;
    default:
        break;
    }
}

}  // namespace bench
