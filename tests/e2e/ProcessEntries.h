#pragma once
// Counting a process's threads and descriptors through /proc, for the no-leak checks.
#include <dirent.h>

namespace lumora::testing {

inline int CountEntries(const char* folder) {
    int count = 0;
    if (DIR* dir = ::opendir(folder)) {
        while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
        ::closedir(dir);
    }
    return count;
}

}  // namespace lumora::testing
