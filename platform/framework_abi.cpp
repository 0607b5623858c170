// What crosses into Apple's frameworks, pinned at compile time: the size and signedness of every type
// and the value of every constant the tool and the helper library pass to Core Foundation, I/O Kit,
// SystemConfiguration and Mach, as Apple documents them for 64-bit macOS (Intel and Apple silicon).
// The frameworks read their arguments by these widths; a declaration that differs stops the build.
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <mach/mach.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace {

// A type: its size in bytes and whether it is signed (integers) or an enumeration's underlying type.
template <typename T, size_t kSize, bool kSigned>
constexpr bool Pinned() {
    using Integer =
        typename std::conditional<std::is_enum<T>::value, std::underlying_type<T>, std::enable_if<true, T>>::type::type;
    return sizeof(T) == kSize && std::is_integral<Integer>::value && std::is_signed<Integer>::value == kSigned;
}

// Core Foundation's base types.
static_assert(Pinned<Boolean, 1, false>(), "Boolean is an unsigned char");
static_assert(Pinned<UInt8, 1, false>(), "UInt8");
static_assert(Pinned<UniChar, 2, false>(), "UniChar is a UTF-16 unit");
static_assert(Pinned<SInt32, 4, true>(), "SInt32");
static_assert(Pinned<UInt32, 4, false>(), "UInt32");
static_assert(Pinned<CFIndex, 8, true>(), "CFIndex is a signed long");
static_assert(Pinned<CFTypeID, 8, false>(), "CFTypeID is an unsigned long");
static_assert(Pinned<CFOptionFlags, 8, false>(), "CFOptionFlags is an unsigned long");
static_assert(Pinned<CFHashCode, 8, false>(), "CFHashCode is an unsigned long");
static_assert(Pinned<CFStringEncoding, 4, false>(), "CFStringEncoding is a UInt32");
static_assert(sizeof(CFTypeRef) == 8 && sizeof(CFStringRef) == 8 && sizeof(CFAllocatorRef) == 8, "references");
static_assert(sizeof(CFRange) == 16 && offsetof(CFRange, location) == 0 && offsetof(CFRange, length) == 8,
              "CFRange is two CFIndex values, location first");
static_assert(std::is_same<decltype(kCFNotFound), const CFIndex>::value && kCFNotFound == -1, "kCFNotFound");

// Enumerations: CF_ENUM types over CFIndex or CFStringEncoding, CF_OPTIONS over CFOptionFlags.
static_assert(Pinned<CFStringBuiltInEncodings, 4, false>(), "CFStringBuiltInEncodings is over CFStringEncoding");
static_assert(kCFStringEncodingUTF8 == 0x08000100 && kCFStringEncodingASCII == 0x0600 &&
                  kCFStringEncodingISOLatin1 == 0x0201 && kCFStringEncodingMacRoman == 0 &&
                  kCFStringEncodingUTF16 == 0x0100,
              "string encodings");
static_assert(Pinned<CFURLPathStyle, 8, true>(), "CFURLPathStyle is a CF_ENUM over CFIndex");
static_assert(kCFURLPOSIXPathStyle == 0 && kCFURLHFSPathStyle == 1 && kCFURLWindowsPathStyle == 2, "path styles");
static_assert(Pinned<CFURLError, 8, true>(), "CFURLError is a CF_ENUM over CFIndex");
static_assert(kCFURLUnknownError == -10 && kCFURLResourceNotFoundError == -12 &&
                  kCFURLResourceAccessViolationError == -13 && kCFURLTimeoutError == -18,
              "URL access errors");
static_assert(Pinned<CFNumberType, 8, true>(), "CFNumberType is a CF_ENUM over CFIndex");
static_assert(kCFNumberSInt32Type == 3 && kCFNumberSInt64Type == 4 && kCFNumberCFIndexType == 14, "number types");
static_assert(std::is_same<CFPropertyListMutabilityOptions, CFOptionFlags>::value && kCFPropertyListImmutable == 0 &&
                  kCFPropertyListMutableContainers == 1 && kCFPropertyListMutableContainersAndLeaves == 2,
              "CFPropertyListMutabilityOptions is a CF_OPTIONS over CFOptionFlags");
static_assert(sizeof(CFBooleanRef) == 8 && std::is_same<decltype(kCFBooleanTrue), const CFBooleanRef>::value &&
                  std::is_same<decltype(CFBooleanGetValue(nullptr)), Boolean>::value &&
                  std::is_same<decltype(CFBooleanGetTypeID()), CFTypeID>::value,
              "booleans: two constant references, read as a Boolean");
static_assert(sizeof(CFDictionaryKeyCallBacks) == 48 && sizeof(CFDictionaryValueCallBacks) == 40 &&
                  offsetof(CFDictionaryKeyCallBacks, hash) == 40,
              "dictionary call-back tables: a CFIndex version, then the functions");

// Mach and I/O Kit: 32-bit port names and return codes.
static_assert(Pinned<natural_t, 4, false>(), "natural_t");
static_assert(Pinned<mach_port_t, 4, false>() && Pinned<mach_port_name_t, 4, false>(), "Mach port names");
static_assert(Pinned<kern_return_t, 4, true>() && Pinned<IOReturn, 4, true>(), "kern_return_t and IOReturn are ints");
static_assert(Pinned<io_object_t, 4, false>() && Pinned<io_service_t, 4, false>() &&
                  Pinned<io_iterator_t, 4, false>() && Pinned<io_registry_entry_t, 4, false>(),
              "registry handles are Mach port names");
static_assert(Pinned<IOOptionBits, 4, false>(), "IOOptionBits is a UInt32");
static_assert(sizeof(io_name_t) == 128, "io_name_t");
static_assert(KERN_SUCCESS == 0 && KERN_INVALID_ARGUMENT == 4 && KERN_FAILURE == 5 && MACH_PORT_NULL == 0,
              "Mach return codes");
static_assert(kIOReturnSuccess == 0 && static_cast<uint32_t>(kIOReturnError) == 0xE00002BC &&
                  static_cast<uint32_t>(kIOReturnNoMemory) == 0xE00002BD &&
                  static_cast<uint32_t>(kIOReturnBadArgument) == 0xE00002C2 &&
                  static_cast<uint32_t>(kIOReturnNotFound) == 0xE00002F0,
              "I/O Kit return codes");

// A constant string as the compiler lays it out in __DATA,__cfstring for Core Foundation to read: the
// class reference (bound to ___CFConstantStringClassReference), the flags (0x7C8: 8-bit bytes), the
// NUL-terminated bytes and their length. tests/macos/check_release.py reads each of them in the
// release, and the emulated runs read them as Core Foundation does.
struct ConstantString {
    const void *isa;
    int32_t flags;
    const char *bytes;
    long length;
};
static_assert(sizeof(ConstantString) == 32 && offsetof(ConstantString, flags) == 8 &&
                  offsetof(ConstantString, bytes) == 16 && offsetof(ConstantString, length) == 24,
              "a constant string: four 8-byte fields, the flags an int");
#if defined(__APPLE__) && defined(__CONSTANT_CFSTRINGS__)
static_assert(std::is_same<decltype(CFSTR("")), CFStringRef>::value, "CFSTR gives a CFStringRef");
#endif

}  // namespace
