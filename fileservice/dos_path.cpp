#include "fileservice/dos_path.h"

#include <cstring>

namespace tolvane {

void dos_path_to_host(char* name) {
    if (name[0] == '\0' || name[1] != ':') return;
    std::memmove(name, name + 2, std::strlen(name + 2) + 1);
    for (char* p = name; *p; ++p) {
        if (*p == '\\') *p = '/';
    }
}

char* path_name_part(char* path) {
    char* end = path + std::strlen(path);
    char* name = end;
    while (name > path && name[-1] != '/' && name[-1] != '\\' && name[-1] != ':') --name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return end;
    return name;
}

}  // namespace tolvane
