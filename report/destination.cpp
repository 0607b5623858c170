// Opens and commits the report's destination. A new file, or a regular file of the runner's own with
// one link, is written to a temporary file beside it, flushed to the disk and renamed over it; every
// other writable file, device or FIFO is written in place, as opening it for writing would. The
// temporary file is removed on every failure, and by the handlers of the signals that end a run.
#include "report/destination.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
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

// What CreateTempBeside gives instead of a descriptor: -1 when no temporary file could be made
// (errno tells why), kTempFailed when one was made, but failed and was removed again.
const int kTempFailed = -2;

// Creates "<folder>/.<name>.XXXXXX" beside path with the given mode; returns its descriptor (owned by
// the caller), -1 or kTempFailed.
int CreateTempBeside(const char *path, mode_t mode, char *temp_path) {
    const char *slash = strrchr(path, '/');
    const size_t folder_length = slash != NULL ? static_cast<size_t>(slash - path) + 1 : 0;
    const char *base = path + folder_length;
    const size_t added = sizeof ".." "XXXXXX";  // a dot before the name; a dot, six X and the NUL after
    if (folder_length + strlen(base) + added > kDestinationPathSize) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(temp_path, path, folder_length);
    snprintf(temp_path + folder_length, kDestinationPathSize - folder_length, ".%s.XXXXXX", base);
    const int fd = mkstemp(temp_path);
    if (fd < 0) return -1;
    if (fchmod(fd, mode) != 0) {
        close(fd);
        unlink(temp_path);
        return kTempFailed;
    }
    return fd;
}

mode_t CreationMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The run's temporary file, for the handlers of the signals that end a run from outside (a service
// stopped, a terminal closed or interrupted): while gTempPending is set, gTempPath names a file that
// the handler removes before the process dies of the signal. Both change only while those signals
// are blocked.
const int kEndingSignals[] = {SIGHUP, SIGINT, SIGTERM};
const int kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];
volatile sig_atomic_t gTempPending = 0;
const char *volatile gTempPath = NULL;
struct sigaction gPreviousActions[kEndingSignalCount];
bool gHandlersInstalled = false;

extern "C" void RemoveTempAndDie(int signal_number) {
    if (gTempPending) unlink(gTempPath);
    // Dies of the same signal, so that the status still says which one ended the run: blocked while
    // this handler runs, it is delivered with the default action on return.
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void BlockEndingSignals(sigset_t *previous) {
    sigset_t block;
    sigemptyset(&block);
    for (int signal_number : kEndingSignals) sigaddset(&block, signal_number);
    sigprocmask(SIG_BLOCK, &block, previous);
}

// Called with the ending signals blocked. A signal the caller had ignored stays ignored.
void WatchTemp(const char *temp_path) {
    gTempPath = temp_path;
    gTempPending = 1;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTempAndDie;
    sigemptyset(&action.sa_mask);
    for (int signal_number : kEndingSignals) sigaddset(&action.sa_mask, signal_number);
    for (int i = 0; i < kEndingSignalCount; ++i) {
        sigaction(kEndingSignals[i], NULL, &gPreviousActions[i]);
        if (gPreviousActions[i].sa_handler != SIG_IGN) sigaction(kEndingSignals[i], &action, NULL);
    }
    gHandlersInstalled = true;
}

// Called with the ending signals blocked, once the temporary file is renamed or removed.
void UnwatchTemp() {
    gTempPending = 0;
    gTempPath = NULL;
    if (!gHandlersInstalled) return;
    for (int i = 0; i < kEndingSignalCount; ++i) sigaction(kEndingSignals[i], &gPreviousActions[i], NULL);
    gHandlersInstalled = false;
}

// Removes the temporary file and stops watching it.
void RemoveTemp(Destination *destination) {
    sigset_t previous;
    BlockEndingSignals(&previous);
    unlink(destination->tempPath);
    UnwatchTemp();
    sigprocmask(SIG_SETMASK, &previous, NULL);
}

enum InPlace { kInPlaceOpened, kInPlaceFailed, kInPlaceChanged };

// Opens the file at the final path for writing in place (created when create is set and the path is
// still free), as fopen's "w" would, but truncates it only once the stream is there, so that a run that
// could not write leaves the file as it was; a file that the run created and could not write is removed
// again. With shared_only, the decision is made again on the opened descriptor: a file that turned out
// to be the runner's own with one link, or one that was replaced after the checks (no link left), is
// not truncated; the caller looks again, as it does when the file is gone or was made meanwhile.
InPlace OpenInPlace(Destination *destination, bool create, bool shared_only) {
    const int fd = open(destination->finalPath, O_WRONLY | O_NOCTTY | (create ? O_CREAT | O_EXCL : 0), 0666);  // owned
    if (fd < 0) return errno == (create ? EEXIST : ENOENT) ? kInPlaceChanged : kInPlaceFailed;
    struct stat info;
    const bool failed = fstat(fd, &info) != 0;
    if (!failed && shared_only && S_ISREG(info.st_mode) &&
        (info.st_nlink == 0 || (info.st_nlink == 1 && info.st_uid == geteuid()))) {
        close(fd);
        return kInPlaceChanged;
    }
    FILE *stream = failed ? NULL : fdopen(fd, "w");  // takes the descriptor over
    if (stream == NULL) {
        close(fd);
    } else if (S_ISREG(info.st_mode) && ftruncate(fileno(stream), 0) != 0) {
        fclose(stream);
        stream = NULL;
    }
    if (stream == NULL) {
        if (create) unlink(destination->finalPath);
        return kInPlaceFailed;
    }
    destination->stream = stream;
    destination->createdInPlace = create;
    return kInPlaceOpened;
}

enum Aside { kAsideOpened, kAsideRefused, kAsideFailed };

// Opens a temporary file beside the final path, to be renamed over it. kAsideRefused when the folder
// refuses to hold one (no permission, a read-only file system, a name too long), so that only writing
// in place is left; kAsideFailed, with the temporary file removed again, on any other failure: a
// resource that is gone (memory, descriptors, space, a broken file system) stays gone for the run, and
// writing in place then would only lose the earlier document.
Aside OpenAside(Destination *destination, mode_t mode) {
    sigset_t previous;
    BlockEndingSignals(&previous);
    const int fd = CreateTempBeside(destination->finalPath, mode, destination->tempPath);
    const int error = errno;
    if (fd >= 0) WatchTemp(destination->tempPath);
    sigprocmask(SIG_SETMASK, &previous, NULL);
    if (fd == -1 && (error == EACCES || error == EPERM || error == EROFS || error == ENAMETOOLONG)) {
        return kAsideRefused;
    }
    if (fd < 0) return kAsideFailed;
    destination->stream = fdopen(fd, "w");
    if (destination->stream == NULL) {
        close(fd);
        RemoveTemp(destination);
        return kAsideFailed;
    }
    destination->replaceByRename = true;
    return kAsideOpened;
}

// Whether the caller may write the existing file at path, judged with the effective ids as opening it
// would be. Nothing is opened, so nothing is truncated.
bool MayWrite(const char *path) { return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0; }

// A regular file that only this name reaches and that the runner owns: replacing it by a rename cannot
// be told apart from writing it in place, once its permission bits are kept.
bool IsOwnSingleFile(const struct stat &info) {
    return S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_nlink == 1;
}

// How often the checks of an existing destination are made again when the file changed under them
// (another run replaced or removed it); after that the run writes aside, which never truncates.
const int kLookAttempts = 4;

bool OpenDefault(Destination *destination) {
    // The fixed default path is never followed through a link nor written into a file that others
    // share: the rename replaces whatever entry stands there, and a directory there is a failure.
    // Only the runner's own file with one link keeps its mode.
    CopyPath(destination->finalPath, kDefaultDestination);
    for (int attempt = 0; attempt < kLookAttempts; ++attempt) {
        struct stat info;
        if (lstat(destination->finalPath, &info) != 0) {
            if (errno != ENOENT) return false;
            break;
        }
        if (S_ISDIR(info.st_mode)) return false;
        if (S_ISREG(info.st_mode) && info.st_nlink == 0) continue;  // replaced while looked at
        if (S_ISREG(info.st_mode) && !MayWrite(destination->finalPath)) {
            if (errno == ENOENT) continue;
            return false;
        }
        return OpenAside(destination, IsOwnSingleFile(info) ? (info.st_mode & 07777) : CreationMode()) == kAsideOpened;
    }
    return OpenAside(destination, CreationMode()) == kAsideOpened;
}

bool OpenNamed(Destination *destination) {
    for (int attempt = 0; attempt < kLookAttempts; ++attempt) {
        struct stat info;
        if (stat(destination->finalPath, &info) != 0) {
            if (errno != ENOENT) return false;
            // Where no temporary name fits or can be made beside it, the file is created in place.
            const Aside aside = OpenAside(destination, CreationMode());
            if (aside != kAsideRefused) return aside == kAsideOpened;
            const InPlace opened = OpenInPlace(destination, /* create */ true, /* shared_only */ false);
            if (opened != kInPlaceChanged) return opened == kInPlaceOpened;
            continue;  // made by another run meanwhile
        }
        if (S_ISDIR(info.st_mode)) return false;
        InPlace opened;
        if (!S_ISREG(info.st_mode)) {
            opened = OpenInPlace(destination, /* create */ false, /* shared_only */ false);
        } else if (info.st_nlink == 0) {
            continue;  // replaced while looked at
        } else if (!MayWrite(destination->finalPath)) {
            if (errno == ENOENT) continue;
            return false;
        } else if (IsOwnSingleFile(info)) {
            const Aside aside = OpenAside(destination, info.st_mode & 07777);
            if (aside != kAsideRefused) return aside == kAsideOpened;
            opened = OpenInPlace(destination, /* create */ false, /* shared_only */ false);
        } else {
            // Another owner or other links: only writing in place keeps them.
            opened = OpenInPlace(destination, /* create */ false, /* shared_only */ true);
        }
        if (opened != kInPlaceChanged) return opened == kInPlaceOpened;
    }
    return OpenAside(destination, CreationMode()) == kAsideOpened;
}

// The folder that holds path, flushed to the disk so that a rename in it lasts.
void SyncFolderOf(const char *path) {
    char folder[kDestinationPathSize];
    const char *slash = strrchr(path, '/');
    if (slash == NULL) {
        CopyPath(folder, ".");
    } else {
        const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
        memcpy(folder, path, length);
        folder[length] = '\0';
    }
    const int fd = open(folder, O_RDONLY | O_DIRECTORY);  // owned: closed below
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Copies the finished temporary file over the final path in place, for a final path that cannot be
// replaced by a rename (a mount point, such as a file bound into a container).
bool CopyInPlace(const char *from, const char *to) {
    const int in = open(from, O_RDONLY);  // owned: closed below
    if (in < 0) return false;
    const int out = open(to, O_WRONLY | O_TRUNC | O_NOCTTY);  // owned: closed below
    bool ok = out >= 0;
    char buffer[4096];
    ssize_t got;
    while (ok && (got = read(in, buffer, sizeof buffer)) != 0) {
        ok = got > 0;
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t wrote = write(out, buffer + done, static_cast<size_t>(got - done));
            ok = wrote > 0;
            if (ok) done += wrote;
        }
    }
    if (ok && fsync(out) != 0 && errno != EINVAL) ok = false;
    if (out >= 0 && close(out) != 0) ok = false;
    close(in);
    return ok;
}

}  // namespace

bool OpenDestination(Destination *destination, const char *name) {
    if (destination == NULL) return false;
    // The two path buffers are only ever read as NUL-terminated texts: no need to clear them whole.
    destination->stream = NULL;
    destination->toStandardOutput = false;
    destination->replaceByRename = false;
    destination->createdInPlace = false;
    destination->finalPath[0] = '\0';
    destination->tempPath[0] = '\0';
    if (name != NULL && name[0] == '-') {
        destination->toStandardOutput = true;
        destination->stream = stdout;
        return true;
    }
    if (name == NULL) return OpenDefault(destination);
    if (name[0] == '\0' || !ResolveLinks(name, destination->finalPath)) return false;
    return OpenNamed(destination);
}

bool FinishDestination(Destination *destination, bool writes_ok) {
    if (destination == NULL || destination->stream == NULL) return false;
    bool ok = writes_ok && ferror(destination->stream) == 0;
    if (destination->replaceByRename) {
        // On the disk before it replaces anything: a power loss never leaves a partial document.
        ok = ok && fflush(destination->stream) == 0 && fsync(fileno(destination->stream)) == 0;
    }
    if (fclose(destination->stream) != 0) ok = false;
    destination->stream = NULL;
    if (!ok && destination->createdInPlace) unlink(destination->finalPath);  // no document, as before the run
    if (!destination->replaceByRename) return ok;
    sigset_t previous;
    BlockEndingSignals(&previous);
    if (ok && rename(destination->tempPath, destination->finalPath) == 0) {
        SyncFolderOf(destination->finalPath);
    } else if (ok && (errno == EBUSY || errno == EXDEV)) {
        // A path that cannot be replaced by another file is written in place, as opening it would.
        ok = CopyInPlace(destination->tempPath, destination->finalPath);
        unlink(destination->tempPath);
    } else {
        ok = false;
        unlink(destination->tempPath);
    }
    UnwatchTemp();
    sigprocmask(SIG_SETMASK, &previous, NULL);
    return ok;
}
