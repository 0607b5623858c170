// Core Foundation helpers for bundles, URLs, property lists, strings and versions. Every CF object a
// routine creates is released before it returns, except what it hands to its caller.
#include "cfhelpers/cfhelpers.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"

namespace {

const size_t kPointerSlot = 8;
const CFIndex kVersionTextSize = 20;

// Parses data into a property list; the error string Core Foundation may deliver is released unread.
CFPropertyListRef ParsePropertyList(CFDataRef data, CFOptionFlags mutability) {
    CFStringRef errorString = NULL;  // owned when delivered
    CFPropertyListRef plist = CFPropertyListCreateFromXMLData(kCFAllocatorDefault, data, mutability, &errorString);
    if (errorString != NULL) CFRelease(errorString);
    return plist;
}

// Bytes needed for the UTF-8 form of string and its NUL, or 0 when it cannot be said.
size_t Utf8BufferSize(CFStringRef string) {
    const CFIndex maximum = CFStringGetMaximumSizeForEncoding(CFStringGetLength(string), kCFStringEncodingUTF8);
    return maximum < 0 ? 0 : static_cast<size_t>(maximum) + 1;
}

}  // namespace

char *CopyBundleResourcePath(CFStringRef bundleIdentifier, CFStringRef resourceName, CFStringRef resourceType,
                             CFStringRef subdirectory) {
    if (bundleIdentifier == NULL || resourceName == NULL) return NULL;
    CFBundleRef bundle = CFBundleGetBundleWithIdentifier(bundleIdentifier);  // borrowed
    if (bundle == NULL) return NULL;
    CFURLRef url = CFBundleCopyResourceURL(bundle, resourceName, resourceType, subdirectory);  // owned
    if (url == NULL) return NULL;
    CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);  // owned
    if (path == NULL) {
        CFRelease(url);
        return NULL;
    }
    // Sized for the path's UTF-8 form, so that paths beyond ASCII are converted whole.
    const size_t size = Utf8BufferSize(path);
    char *buffer = size > 0 ? static_cast<char *>(malloc(size)) : NULL;
    if (buffer == NULL) {
        CFRelease(url);
        CFRelease(path);
        return NULL;
    }
    const Boolean converted = CFStringGetCString(path, buffer, static_cast<CFIndex>(size), kCFStringEncodingUTF8);
    CFRelease(url);
    if (!converted) {
        free(buffer);
        buffer = NULL;
    }
    CFRelease(path);
    return buffer;
}

CFDataRef CreateDataFromURL(CFURLRef url) {
    if (url == NULL) return NULL;
    CFDataRef data = NULL;  // owned: handed to the caller on success
    SInt32 errorCode = 0;
    if (CFURLCreateDataAndPropertiesFromResource(kCFAllocatorDefault, url, &data, /* properties */ NULL,
                                                 /* desiredProperties */ NULL, &errorCode)) {
        return data;
    }
    if (data != NULL) CFRelease(data);
    return NULL;
}

CFDataRef CreateDataFromPath(const char *path, CFURLRef *urlOut) {
    if (path == NULL) return NULL;
    CFURLRef url = NULL;  // owned: handed to the caller on success
    CFDataRef data = NULL;
    CFStringRef string = CFStringCreateWithCString(kCFAllocatorDefault, path, kCFStringEncodingUTF8);  // owned
    if (string != NULL) {
        url = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, string, kCFURLPOSIXPathStyle,
                                            /* isDirectory */ false);
        if (url != NULL) data = CreateDataFromURL(url);
        CFRelease(string);
    }
    if (data == NULL && url != NULL) {
        CFRelease(url);
        url = NULL;
    }
    if (urlOut != NULL) {
        *urlOut = url;
    } else if (url != NULL) {
        CFRelease(url);
    }
    return data;
}

CFPropertyListRef CreatePropertyListFromPathString(CFStringRef path, CFOptionFlags mutability) {
    if (path == NULL) return NULL;
    CFURLRef url = CFURLCreateWithFileSystemPath(kCFAllocatorDefault, path, kCFURLPOSIXPathStyle,
                                                 /* isDirectory */ false);  // owned
    if (url == NULL) return NULL;
    CFDataRef data = NULL;  // owned
    SInt32 errorCode = 0;
    if (!CFURLCreateDataAndPropertiesFromResource(kCFAllocatorDefault, url, &data, /* properties */ NULL,
                                                  /* desiredProperties */ NULL, &errorCode)) {
        if (data != NULL) CFRelease(data);
        CFRelease(url);
        return NULL;
    }
    CFPropertyListRef plist = ParsePropertyList(data, mutability);
    CFRelease(data);
    CFRelease(url);
    return plist;
}

CFPropertyListRef CreatePropertyListFromURL(CFURLRef url, CFOptionFlags mutability) {
    CFDataRef data = CreateDataFromURL(url);  // owned
    if (data == NULL) return NULL;
    CFPropertyListRef plist = ParsePropertyList(data, mutability);
    CFRelease(data);
    return plist;
}

CFPropertyListRef CreatePropertyListFromPath(const char *path, CFOptionFlags mutability) {
    CFDataRef data = CreateDataFromPath(path, /* urlOut */ NULL);  // owned
    if (data == NULL) return NULL;
    CFPropertyListRef plist = ParsePropertyList(data, mutability);
    CFRelease(data);
    return plist;
}

IOReturn WritePropertyListToURL(CFPropertyListRef propertyList, CFURLRef url) {
    if (propertyList == NULL || url == NULL) return kIOReturnBadArgument;
    CFDataRef xml = CFPropertyListCreateXMLData(kCFAllocatorDefault, propertyList);  // owned
    if (xml == NULL) return kIOReturnBadArgument;
    SInt32 errorCode = 0;
    const Boolean written = CFURLWriteDataAndPropertiesToResource(url, xml, /* propertiesToWrite */ NULL, &errorCode);
    CFRelease(xml);
    if (written) return kIOReturnSuccess;
    // A refused write is never reported as success, even when it leaves no code of its own.
    return errorCode != 0 ? static_cast<IOReturn>(errorCode) : kIOReturnError;
}

IOReturn WritePropertyListToPath(CFPropertyListRef propertyList, const UInt8 *pathBytes, CFIndex length) {
    if (propertyList == NULL || pathBytes == NULL || length <= 0) return kIOReturnBadArgument;
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(kCFAllocatorDefault, pathBytes, length,
                                                           /* isDirectory */ false);  // owned
    if (url == NULL) return kIOReturnInvalid;
    const IOReturn result = WritePropertyListToURL(propertyList, url);
    CFRelease(url);
    return result;
}

CFTypeRef GetDictionaryValueOfType(CFDictionaryRef dictionary, CFTypeID type, CFStringRef key) {
    if (dictionary == NULL || key == NULL) return NULL;
    CFTypeRef value = CFDictionaryGetValue(dictionary, key);  // borrowed
    if (value == NULL) return NULL;
    return CFGetTypeID(value) == type ? value : NULL;
}

char *CreateCStringFromCFString(CFStringRef string) {
    if (string == NULL) return NULL;
    const CFIndex length = CFStringGetLength(string);
    if (length <= 0) return NULL;
    const CFIndex maximum = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8);
    if (maximum < 0) return NULL;
    const size_t size = static_cast<size_t>(maximum) + 16;
    char *buffer = static_cast<char *>(calloc(size, 1));
    if (buffer == NULL) return NULL;
    if (CFStringGetCString(string, buffer, static_cast<CFIndex>(size), kCFStringEncodingUTF8)) return buffer;
    free(buffer);
    return NULL;
}

IOReturn CreateCStringList(CFArrayRef array, char ***listOut, uint64_t *sizeOut) {
    if (array == NULL || listOut == NULL || sizeOut == NULL) return kIOReturnBadArgument;
    const CFIndex count = CFArrayGetCount(array);
    const size_t size = kPointerSlot * (static_cast<size_t>(count) + 1);
    char **list = static_cast<char **>(malloc(size));
    if (list == NULL) {
        *listOut = NULL;
        *sizeOut = 0;
        return kIOReturnNoMemory;
    }
    memset(list, 0, size);  // every slot null; the last stays the terminator
    IOReturn result = kIOReturnSuccess;
    for (CFIndex i = 0; i < count; ++i) {                      // a failure sets result and ends the loop
        CFTypeRef element = CFArrayGetValueAtIndex(array, i);  // borrowed
        if (element == NULL || CFGetTypeID(element) != CFStringGetTypeID()) {
            result = kIOReturnBadArgument;
            break;
        }
        // Sized for the element's UTF-8 form: characters beyond ASCII are kept whole.
        const size_t elementSize = Utf8BufferSize(static_cast<CFStringRef>(element));
        char *text = elementSize > 0 ? static_cast<char *>(malloc(elementSize)) : NULL;
        if (text == NULL) {
            result = kIOReturnNoMemory;
            break;
        }
        CopyCFStringBytes(static_cast<CFStringRef>(element), kCFStringEncodingUTF8, text,
                          static_cast<CFIndex>(elementSize));
        list[i] = text;
    }
    if (result != kIOReturnSuccess) {
        FreeCStringList(list, size);
        free(list);
        *listOut = NULL;
        *sizeOut = 0;
        return result;
    }
    *listOut = list;
    *sizeOut = size;
    return kIOReturnSuccess;
}

IOReturn FreeCStringList(char **list, uint64_t size) {
    if (list == NULL || size == 0 || size % kPointerSlot != 0) return kIOReturnBadArgument;
    for (uint64_t slot = 0; slot < size / kPointerSlot && list[slot] != NULL; ++slot) free(list[slot]);
    return kIOReturnSuccess;
}

uint32_t GetBundleVersion(CFBundleRef bundle) {
    if (bundle == NULL) return 0;
    CFDictionaryRef info = CFBundleGetInfoDictionary(bundle);  // borrowed
    if (info == NULL) return 0;
    CFTypeRef value = CFDictionaryGetValue(info, kCFBundleVersionKey);  // borrowed
    if (value == NULL || CFGetTypeID(value) != CFStringGetTypeID()) return 0;
    char text[kVersionTextSize];
    if (!CFStringGetCString(static_cast<CFStringRef>(value), text, sizeof text, kCFStringEncodingUTF8)) return 0;
    return PackVersionText(text);
}

uint32_t PackVersionText(const char *text) {
    if (text == NULL) return 0;
    int numbers[4] = {0, 0, 0, 0};
    int count = sscanf(text, "%d.%d.%d.%d", &numbers[0], &numbers[1], &numbers[2], &numbers[3]);
    if (count == 0) {
        // Not a number first: skip one word ("Build 3.1").
        count = sscanf(text, "%*s%d.%d.%d.%d", &numbers[0], &numbers[1], &numbers[2], &numbers[3]);
    }
    if (count <= 0) return 0;
    uint32_t result = 0;
    for (int i = 0; i < count; ++i) {
        // The numbers are not masked: one above 255, or a negative one, also sets bits further left.
        result |= static_cast<uint32_t>(numbers[i]) << (24 - 8 * i);
    }
    return result;
}

uint32_t GetBundleVersionByIdentifier(CFStringRef bundleIdentifier) {
    CFBundleRef bundle = bundleIdentifier != NULL ? CFBundleGetBundleWithIdentifier(bundleIdentifier)
                                                  : CFBundleGetMainBundle();  // borrowed
    return bundle != NULL ? GetBundleVersion(bundle) : 0;
}
