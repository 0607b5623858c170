// Whole-file reads for the stand-in's machine sources.
#include "file_read.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace standin {

bool ReadFileBytes(const std::string &path, std::string *contents) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    contents->clear();
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) {
            contents->append(chunk, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

}  // namespace standin
