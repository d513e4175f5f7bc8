#include "tests/support/open_sockets.h"

#include <dirent.h>
#include <unistd.h>

#include <cstring>
#include <string>

int count_open_sockets()
{
    DIR* descriptors = opendir("/proc/self/fd");
    if (descriptors == nullptr) return -1;
    int sockets = 0;
    while (const dirent* entry = readdir(descriptors)) {
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        char target[256];
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length <= 0) continue;
        target[length] = 0;
        if (std::strncmp(target, "socket:", 7) == 0) ++sockets;
    }
    closedir(descriptors);
    return sockets;
}
