// Bundles for the stand-in: a folder with an Info.plist (in Contents/ or at its top). As Core
// Foundation does, a bundle is made once per folder and kept for the process (found by its identifier
// after its last release); the main bundle is the one around the running executable.
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include <CoreFoundation/CoreFoundation.h>

#include "cf_object.h"

namespace {

std::mutex gBundlesMutex;
std::vector<__CFBundle *> *gBundles = new std::vector<__CFBundle *>();  // each holds a reference

bool IsDigitUnit(UniChar c) { return c >= '0' && c <= '9'; }

// The "vers" form of a version text ("1.2.3d4"), as Core Foundation packs it into
// CFBundleNumericVersion: two decimal digits of major version, one of minor and one of bug-fix
// version, a stage (0x20 development, 0x40 alpha, 0x60 beta, 0x80 final) and a build number up to
// 255. 0 for a text that has not that form.
UInt32 NumericVersion(CFStringRef text) {
    const CFIndex length = CFStringGetLength(text);
    if (length <= 0 || length > 32) return 0;
    UniChar c[33] = {};
    for (CFIndex i = 0; i < length; ++i) c[i] = CFStringGetCharacterAtIndex(text, i);
    CFIndex i = 0;
    UInt32 major1 = 0, major2 = 0, minor = 0, bugfix = 0, stage = 0x80, build = 0;
    if (IsDigitUnit(c[i])) {
        major2 = c[i++] - '0';
        if (IsDigitUnit(c[i])) {
            major1 = major2;
            major2 = c[i++] - '0';
        }
    }
    for (UInt32 *part : {&minor, &bugfix}) {
        if (i == length || c[i] != '.') break;
        if (!IsDigitUnit(c[++i])) return 0;
        *part = c[i++] - '0';
    }
    if (i < length) {
        switch (c[i++]) {
            case 'd': stage = 0x20; break;
            case 'a': stage = 0x40; break;
            case 'b': stage = 0x60; break;
            case 'f': stage = 0x80; break;
            default: return 0;
        }
        if (i == length) return 0;  // a stage needs its build number
        for (; i < length; ++i) {
            if (!IsDigitUnit(c[i])) return 0;
            build = build * 10 + (c[i] - '0');
            if (build > 255) return 0;
        }
    }
    return major1 << 28 | major2 << 24 | minor << 20 | bugfix << 16 | stage << 8 | build;
}

bool IsDirectory(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The information dictionary of the bundle at path; an empty one when it has none that parses.
CFDictionaryRef ReadInfo(const std::string &path) {
    for (const char *relative : {"/Contents/Info.plist", "/Info.plist"}) {
        CFURLRef url = standin::NewFileURL(path + relative, /* isDirectory */ false);  // owned
        CFDataRef data = nullptr;                                                      // owned
        SInt32 error = 0;
        CFPropertyListRef plist = nullptr;
        if (url != nullptr &&
            CFURLCreateDataAndPropertiesFromResource(kCFAllocatorDefault, url, &data, nullptr, nullptr, &error)) {
            plist = CFPropertyListCreateFromXMLData(kCFAllocatorDefault, data, kCFPropertyListImmutable, nullptr);
        }
        if (data != nullptr) CFRelease(data);
        if (url != nullptr) CFRelease(url);
        if (plist != nullptr && CFGetTypeID(plist) == CFDictionaryGetTypeID())
            return static_cast<CFDictionaryRef>(plist);
        if (plist != nullptr) CFRelease(plist);
    }
    return CFDictionaryCreate(kCFAllocatorDefault, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                              &kCFTypeDictionaryValueCallBacks);
}

__CFBundle *NewBundle(const std::string &path) {
    auto *bundle = new __CFBundle();
    bundle->path = path;
    bundle->info = ReadInfo(path);
    const void *version = CFDictionaryGetValue(bundle->info, CFSTR("CFBundleVersion"));
    if (version != nullptr && CFGetTypeID(version) == CFStringGetTypeID()) {
        const UInt32 packed = NumericVersion(static_cast<CFStringRef>(version));
        CFNumberRef number = CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &packed);  // owned
        CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(bundle->info), CFSTR("CFBundleNumericVersion"), number);
        CFRelease(number);
    }
    const void *identifier = CFDictionaryGetValue(bundle->info, CFSTR("CFBundleIdentifier"));
    if (identifier != nullptr && CFGetTypeID(identifier) == CFStringGetTypeID()) {
        bundle->identifier = static_cast<CFStringRef>(identifier);
    }
    return bundle;
}

std::string ParentOf(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == 0 ? "/" : slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string BaseOf(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

__CFBundle::~__CFBundle() {
    {
        std::lock_guard<std::mutex> lock(gBundlesMutex);
        for (auto it = gBundles->begin(); it != gBundles->end(); ++it) {
            if (*it == this) {
                gBundles->erase(it);
                break;
            }
        }
    }
    if (info != nullptr) CFRelease(info);
}

extern "C" {

const CFStringRef kCFBundleInfoDictionaryVersionKey = CFSTR("CFBundleInfoDictionaryVersion");
const CFStringRef kCFBundleExecutableKey = CFSTR("CFBundleExecutable");
const CFStringRef kCFBundleIdentifierKey = CFSTR("CFBundleIdentifier");
const CFStringRef kCFBundleVersionKey = CFSTR("CFBundleVersion");
const CFStringRef kCFBundleNameKey = CFSTR("CFBundleName");

CFTypeID CFBundleGetTypeID(void) { return standin::kTypeBundle; }

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL) {
    const std::string *path = standin::PathOf(bundleURL);
    if (path == nullptr) return nullptr;
    std::string folder = *path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!IsDirectory(folder)) return nullptr;
    std::lock_guard<std::mutex> lock(gBundlesMutex);
    for (__CFBundle *known : *gBundles) {
        if (known->path == folder) {  // one bundle a folder
            CFRetain(known);
            return known;
        }
    }
    __CFBundle *bundle = NewBundle(folder);
    CFRetain(bundle);  // the table's reference: the bundle stays for the process
    gBundles->push_back(bundle);
    return bundle;
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) {
    if (bundleID == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(gBundlesMutex);
    for (__CFBundle *bundle : *gBundles) {
        if (bundle->identifier != nullptr && CFEqual(bundle->identifier, bundleID)) return bundle;
    }
    return nullptr;
}

CFBundleRef CFBundleGetMainBundle(void) {
    static __CFBundle *main = [] {
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        std::string folder = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string("/");
        folder = ParentOf(folder);
        // ".../Name.app/Contents/MacOS/exe": the bundle is the folder above Contents. Elsewhere the
        // main bundle is the executable's folder with an empty information dictionary.
        __CFBundle *bundle;
        if (BaseOf(folder) == "MacOS" && BaseOf(ParentOf(folder)) == "Contents") {
            bundle = NewBundle(ParentOf(ParentOf(folder)));
        } else {
            bundle = new __CFBundle();
            bundle->path = folder;
            bundle->info = CFDictionaryCreate(kCFAllocatorDefault, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                              &kCFTypeDictionaryValueCallBacks);
        }
        standin::MakeImmortal(bundle);
        standin::MakeImmortal(standin::AsMutableObject(bundle->info));
        std::lock_guard<std::mutex> lock(gBundlesMutex);
        gBundles->push_back(bundle);
        return bundle;
    }();
    return main;
}

CFDictionaryRef CFBundleGetInfoDictionary(CFBundleRef bundle) {
    const __CFBundle *b = standin::As<__CFBundle>(bundle, standin::kTypeBundle);
    return b != nullptr ? b->info : nullptr;
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName, CFStringRef resourceType,
                                 CFStringRef subDirName) {
    const __CFBundle *b = standin::As<__CFBundle>(bundle, standin::kTypeBundle);
    if (b == nullptr || resourceName == nullptr) return nullptr;
    std::string file = standin::Utf8Of(resourceName);
    if (resourceType != nullptr) {
        const std::string type = standin::Utf8Of(resourceType);
        if (!type.empty()) file += (type[0] == '.' ? "" : ".") + type;
    }
    const std::string sub = subDirName != nullptr ? standin::Utf8Of(subDirName) : std::string();
    const std::string resources = IsDirectory(b->path + "/Contents") ? b->path + "/Contents/Resources" : b->path;
    for (const std::string &folder : {resources, resources + "/Base.lproj"}) {
        const std::string candidate = folder + (sub.empty() ? "" : "/" + sub) + "/" + file;
        if (Exists(candidate)) return standin::NewFileURL(candidate, IsDirectory(candidate));
    }
    return nullptr;
}

}  // extern "C"
