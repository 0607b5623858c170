// Opens and commits the report's destination. A new file, or a regular file of the runner's own with
// one link, is written to a temporary file beside it and renamed over it; every other writable file,
// device or FIFO is written in place, as opening it for writing would.
#include "report/destination.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

const char kDefaultDestination[] = "/tmp/inventory.xml";

namespace {

const int kMaxLinkHops = 40;

bool CopyPath(char *out, const char *in) {
    const size_t length = strlen(in);
    if (length >= kDestinationPathSize) return false;
    memcpy(out, in, length + 1);
    return true;
}

// Follows symbolic links from path to the entry they finally name (which may not exist yet).
bool ResolveLinks(const char *path, char *out) {
    if (!CopyPath(out, path)) return false;
    for (int hop = 0;; ++hop) {
        struct stat info;
        if (lstat(out, &info) != 0 || !S_ISLNK(info.st_mode)) return true;
        if (hop == kMaxLinkHops) return false;  // a loop, or too many links
        char target[kDestinationPathSize];
        const ssize_t length = readlink(out, target, sizeof target - 1);
        if (length < 0) return false;
        target[length] = '\0';
        if (target[0] == '/') {
            if (!CopyPath(out, target)) return false;
            continue;
        }
        char *slash = strrchr(out, '/');
        const size_t keep = slash != NULL ? static_cast<size_t>(slash - out) + 1 : 0;
        if (keep + static_cast<size_t>(length) >= kDestinationPathSize) return false;
        memcpy(out + keep, target, static_cast<size_t>(length) + 1);
    }
}

// Creates "<folder>/.<name>.XXXXXX" beside path with the given mode; returns its descriptor or -1.
int CreateTempBeside(const char *path, mode_t mode, char *temp_path) {
    const char *slash = strrchr(path, '/');
    const size_t folder_length = slash != NULL ? static_cast<size_t>(slash - path) + 1 : 0;
    const char *base = path + folder_length;
    const size_t added = sizeof ".." "XXXXXX";  // a dot before the name; a dot, six X and the NUL after
    if (folder_length + strlen(base) + added > kDestinationPathSize) return -1;
    memcpy(temp_path, path, folder_length);
    snprintf(temp_path + folder_length, kDestinationPathSize - folder_length, ".%s.XXXXXX", base);
    const int fd = mkstemp(temp_path);
    if (fd < 0) return -1;
    if (fchmod(fd, mode) != 0) {
        close(fd);
        unlink(temp_path);
        return -1;
    }
    return fd;
}

mode_t CreationMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool OpenInPlace(Destination *destination) {
    destination->stream = fopen(destination->finalPath, "w");
    return destination->stream != NULL;
}

bool OpenAside(Destination *destination, mode_t mode) {
    const int fd = CreateTempBeside(destination->finalPath, mode, destination->tempPath);
    if (fd < 0) return false;
    destination->stream = fdopen(fd, "w");
    if (destination->stream == NULL) {
        close(fd);
        unlink(destination->tempPath);
        return false;
    }
    destination->replaceByRename = true;
    return true;
}

// Whether the caller may write the existing file at path, judged with the effective ids as opening it
// would be. Nothing is opened, so nothing is truncated.
bool MayWrite(const char *path) { return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0; }

// A regular file that only this name reaches and that the runner owns: replacing it by a rename cannot
// be told apart from writing it in place, once its permission bits are kept.
bool IsOwnSingleFile(const struct stat &info) {
    return S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_nlink == 1;
}

}  // namespace

bool OpenDestination(Destination *destination, const char *name) {
    if (destination == NULL) return false;
    // The two path buffers are only ever read as NUL-terminated texts: no need to clear them whole.
    destination->stream = NULL;
    destination->toStandardOutput = false;
    destination->replaceByRename = false;
    destination->finalPath[0] = '\0';
    destination->tempPath[0] = '\0';
    if (name != NULL && name[0] == '-') {
        destination->toStandardOutput = true;
        destination->stream = stdout;
        return true;
    }
    struct stat info;
    if (name == NULL) {
        // The fixed default path is never followed through a link nor written into a file that others
        // share: the rename replaces whatever entry stands there, and a directory there is a failure.
        // Only the runner's own file with one link keeps its mode.
        CopyPath(destination->finalPath, kDefaultDestination);
        if (lstat(destination->finalPath, &info) != 0) return OpenAside(destination, CreationMode());
        if (S_ISDIR(info.st_mode)) return false;
        if (S_ISREG(info.st_mode) && !MayWrite(destination->finalPath)) return false;
        return OpenAside(destination, IsOwnSingleFile(info) ? (info.st_mode & 07777) : CreationMode());
    }
    if (name[0] == '\0' || !ResolveLinks(name, destination->finalPath)) return false;
    if (stat(destination->finalPath, &info) != 0) {
        if (errno != ENOENT) return false;
        // Where no temporary name fits or can be made beside it, the file is created in place.
        return OpenAside(destination, CreationMode()) || OpenInPlace(destination);
    }
    if (S_ISDIR(info.st_mode)) return false;
    if (!S_ISREG(info.st_mode)) return OpenInPlace(destination);
    if (!MayWrite(destination->finalPath)) return false;
    // Another owner or other links: only writing in place keeps them.
    if (!IsOwnSingleFile(info)) return OpenInPlace(destination);
    return OpenAside(destination, info.st_mode & 07777) || OpenInPlace(destination);
}

bool FinishDestination(Destination *destination, bool writes_ok) {
    if (destination == NULL || destination->stream == NULL) return false;
    bool ok = writes_ok && ferror(destination->stream) == 0;
    if (fclose(destination->stream) != 0) ok = false;
    destination->stream = NULL;
    if (destination->replaceByRename) {
        if (ok && rename(destination->tempPath, destination->finalPath) != 0) ok = false;
        if (!ok) unlink(destination->tempPath);
    }
    return ok;
}
