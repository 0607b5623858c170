// File URLs for the stand-in, and reading and writing the files they name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include <CoreFoundation/CoreFoundation.h>

#include "cf_object.h"
#include "standin_testing.h"

using standin::As;

bool __CFURL::Equals(const CFObject &other) const {
    const auto &that = static_cast<const __CFURL &>(other);
    return path == that.path && isDirectory == that.isDirectory;
}

namespace standin {
namespace {
std::atomic<bool> gWriteFailsSilently{false};
}

void SetUrlWriteFailsWithoutCode(bool fails) { gWriteFailsSilently = fails; }

CFURLRef NewFileURL(std::string path, bool isDirectory) {
    if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
    if (path[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) == nullptr) return nullptr;
        std::string base = cwd;
        if (base.back() != '/') base += '/';
        path = base + path;
    }
    // A file (not a folder) is named without trailing slashes, as Core Foundation reads and writes it.
    while (!isDirectory && path.size() > 1 && path.back() == '/') path.pop_back();
    auto *url = new __CFURL();
    url->path = std::move(path);
    url->isDirectory = isDirectory;
    return url;
}

const std::string *PathOf(CFURLRef url) {
    const __CFURL *u = As<__CFURL>(url, kTypeURL);
    return u != nullptr ? &u->path : nullptr;
}

}  // namespace standin

extern "C" {

CFTypeID CFURLGetTypeID(void) { return standin::kTypeURL; }

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath, CFURLPathStyle pathStyle,
                                       Boolean isDirectory) {
    if (filePath == nullptr || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
    if (As<__CFString>(filePath, standin::kTypeString) == nullptr) return nullptr;
    return standin::NewFileURL(standin::Utf8Of(filePath), isDirectory);
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8 *buffer, CFIndex bufLen,
                                                 Boolean isDirectory) {
    if (buffer == nullptr || bufLen <= 0) return nullptr;
    while (bufLen > 0 && buffer[bufLen - 1] == 0) --bufLen;  // a length that counts the C string's NUL
    if (bufLen == 0) return nullptr;
    return standin::NewFileURL(std::string(reinterpret_cast<const char *>(buffer), static_cast<size_t>(bufLen)),
                               isDirectory);
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle) {
    const std::string *path = standin::PathOf(anURL);
    if (path == nullptr || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
    std::string text = *path;
    if (text.size() > 1 && text.back() == '/') text.pop_back();
    return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(text.data()),
                                   static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8,
                                   /* isExternalRepresentation */ false);
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8 *buffer, CFIndex maxBufLen) {
    const std::string *path = standin::PathOf(url);
    if (path == nullptr || buffer == nullptr || maxBufLen <= 0 || path->size() >= static_cast<size_t>(maxBufLen)) {
        return false;
    }
    std::memcpy(buffer, path->c_str(), path->size() + 1);
    return true;
}

Boolean CFURLCreateDataAndPropertiesFromResource(CFAllocatorRef, CFURLRef url, CFDataRef *resourceData,
                                                 CFDictionaryRef *properties, CFArrayRef, SInt32 *errorCode) {
    if (errorCode != nullptr) *errorCode = 0;
    if (resourceData != nullptr) *resourceData = nullptr;
    if (properties != nullptr) *properties = nullptr;
    const std::string *path = standin::PathOf(url);
    auto fail = [errorCode]() {
        if (errorCode != nullptr) *errorCode = kCFURLUnknownError;
        return static_cast<Boolean>(false);
    };
    if (path == nullptr) return fail();
    const int fd = open(path->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail();
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return fail();
    }
    std::string bytes;
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(n));
    close(fd);
    if (n < 0) return fail();
    if (resourceData != nullptr) {
        *resourceData = CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(bytes.data()),
                                     static_cast<CFIndex>(bytes.size()));
    }
    return true;
}

Boolean CFURLWriteDataAndPropertiesToResource(CFURLRef url, CFDataRef dataToWrite, CFDictionaryRef, SInt32 *errorCode) {
    const std::string *path = standin::PathOf(url);
    auto fail = [errorCode]() {
        if (errorCode != nullptr && !standin::gWriteFailsSilently) *errorCode = kCFURLUnknownError;
        return static_cast<Boolean>(false);
    };
    if (path == nullptr || dataToWrite == nullptr || standin::gWriteFailsSilently) return fail();
    const int fd = open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return fail();
    const UInt8 *bytes = CFDataGetBytePtr(dataToWrite);
    size_t left = static_cast<size_t>(CFDataGetLength(dataToWrite));
    while (left > 0) {
        const ssize_t n = write(fd, bytes, left);
        if (n <= 0) {
            close(fd);
            return fail();
        }
        bytes += n;
        left -= static_cast<size_t>(n);
    }
    if (close(fd) != 0) return fail();
    if (errorCode != nullptr) *errorCode = 0;
    return true;
}

}  // extern "C"
