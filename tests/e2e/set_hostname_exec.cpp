// Test helper: sets the host name to the bytes given in hex, then runs a program. Used inside a
// private UTS namespace to give the tool host names that no hostname command would accept.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s HEXNAME PROGRAM [ARG...]\n", argv[0]);
        return 64;
    }
    std::string name;
    for (const char *h = argv[1]; h[0] != '\0' && h[1] != '\0'; h += 2) {
        char byte[3] = {h[0], h[1], '\0'};
        name.push_back(static_cast<char>(strtol(byte, nullptr, 16)));
    }
    if (sethostname(name.data(), name.size()) != 0) {
        perror("sethostname");
        return 65;
    }
    execv(argv[2], argv + 2);
    perror("execv");
    return 66;
}
