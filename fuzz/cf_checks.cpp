// Property checks for property-list reading and bundle versions: no crash, and no CF object left
// alive afterwards.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "cfhelpers/cfhelpers.h"
#include "check_support.h"
#include "checks.h"
#include "standin_testing.h"

namespace {

// One scratch folder per process for the files the checks read.
const std::string &ScratchFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/machineinfo-fuzz.XXXXXX";
        const char *made = mkdtemp(pattern);
        return std::string(made != NULL ? made : "/tmp");
    }();
    return folder;
}

bool WriteAll(const std::string &path, const uint8_t *data, size_t size) {
    FILE *f = fopen(path.c_str(), "wb");
    if (f == NULL) return false;
    const bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

}  // namespace

void CheckPropertyList(const uint8_t *data, size_t size) {
    const long before = standin::LiveObjectCount();
    const std::string path = ScratchFolder() + "/input.plist";
    if (!WriteAll(path, data, size)) return;
    CFPropertyListRef plist = CreatePropertyListFromPath(path.c_str(), kCFPropertyListMutableContainersAndLeaves);
    if (plist != NULL) {
        // What was read can be written again and read back.
        const std::string out = ScratchFolder() + "/output.plist";
        const IOReturn written = WritePropertyListToPath(plist, reinterpret_cast<const UInt8 *>(out.data()),
                                                         static_cast<CFIndex>(out.size()));
        if (written == kIOReturnSuccess) {
            CFPropertyListRef again = CreatePropertyListFromPath(out.c_str(), kCFPropertyListImmutable);
            CHECK_PROPERTY("plist", again != NULL, "");
            CFRelease(again);
        }
        CFRelease(plist);
    }
    CHECK_PROPERTY("plist", standin::LiveObjectCount() == before, "");
}

void CheckBundleVersion(const uint8_t *data, size_t size) {
    const long before = standin::LiveObjectCount();
    long kept = 0;  // the objects of the bundle, which stays
    // The text goes straight to the packer, and through a bundle's Info.plist as its version string.
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));
    (void)PackVersionText(text.c_str());

    // A bundle is read once and kept for the process: each input gets a folder and an identifier of
    // its own, and the folder goes again once read.
    static unsigned inputs = 0;
    const std::string name = "Fuzz" + std::to_string(inputs++);
    const std::string bundle = ScratchFolder() + "/" + name + ".bundle";
    const std::string contents = bundle + "/Contents";
    const std::string plistPath = contents + "/Info.plist";
    mkdir(bundle.c_str(), 0700);
    mkdir(contents.c_str(), 0700);
    CFStringRef version = CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(text.data()),
                                                  static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
    CFStringRef identifier =
        CFStringCreateWithCString(kCFAllocatorDefault, ("com.example." + name).c_str(), kCFStringEncodingUTF8);
    if (version != NULL && identifier != NULL) {
        const void *keys[] = {CFSTR("CFBundleIdentifier"), CFSTR("CFBundleVersion")};
        const void *values[] = {identifier, version};
        CFDictionaryRef info = CFDictionaryCreate(kCFAllocatorDefault, keys, values, 2, &kCFTypeDictionaryKeyCallBacks,
                                                  &kCFTypeDictionaryValueCallBacks);
        const IOReturn written = WritePropertyListToPath(info, reinterpret_cast<const UInt8 *>(plistPath.data()),
                                                         static_cast<CFIndex>(plistPath.size()));
        CFRelease(info);
        if (written == kIOReturnSuccess) {
            CFURLRef url = CFURLCreateFromFileSystemRepresentation(
                kCFAllocatorDefault, reinterpret_cast<const UInt8 *>(bundle.data()),
                static_cast<CFIndex>(bundle.size()), /* isDirectory */ true);
            const long beforeBundle = standin::LiveObjectCount();
            CFBundleRef created = CFBundleCreate(kCFAllocatorDefault, url);  // kept for the process
            kept = standin::LiveObjectCount() - beforeBundle;
            CFRelease(url);
            const uint32_t viaBundle = GetBundleVersionByIdentifier(identifier);
            // The bundle holds the text as a CF string holds it (a leading byte-order mark is dropped);
            // texts of 20 bytes or more do not fit the 20-byte conversion and give 0.
            char held[4096] = "";
            CFStringGetCString(version, held, sizeof held, kCFStringEncodingUTF8);
            const uint32_t expected = strlen(held) < 20 ? PackVersionText(held) : 0u;
            CHECK_PROPERTY("version", viaBundle == expected, text.c_str());
            if (created != NULL) CFRelease(created);
        }
    }
    if (version != NULL) CFRelease(version);
    if (identifier != NULL) CFRelease(identifier);
    unlink(plistPath.c_str());
    rmdir(contents.c_str());
    rmdir(bundle.c_str());
    CHECK_PROPERTY("version", standin::LiveObjectCount() == before + kept, text.c_str());
}
