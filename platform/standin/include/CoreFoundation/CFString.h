/* Stand-in for Apple's CFString.h: immutable strings held as UTF-16 units, with the UTF-8
 * conversions the tool uses. CFSTR makes constant strings that are never freed. */
#ifndef STANDIN_CFSTRING_H
#define STANDIN_CFSTRING_H

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

typedef UInt32 CFStringEncoding;

typedef CF_ENUM(CFStringEncoding, CFStringBuiltInEncodings) {
    kCFStringEncodingMacRoman = 0,
    kCFStringEncodingWindowsLatin1 = 0x0500,
    kCFStringEncodingISOLatin1 = 0x0201,
    kCFStringEncodingNextStepLatin = 0x0B01,
    kCFStringEncodingASCII = 0x0600,
    kCFStringEncodingUnicode = 0x0100,
    kCFStringEncodingUTF8 = 0x08000100,
    kCFStringEncodingNonLossyASCII = 0x0BFF,
    kCFStringEncodingUTF16 = 0x0100,
};

/* Returns a constant string that lives as long as the process; never released. */
CF_EXPORT CFStringRef __CFStringMakeConstantString(const char *cStr);
#if defined(__APPLE__) && defined(__CONSTANT_CFSTRINGS__)
/* As Apple's header has it where the compiler makes constant strings (clang does for Darwin targets):
 * a constant in __DATA,__cfstring (the class ___CFConstantStringClassReference, flags, the bytes and
 * their length), made at build time; no call at all. */
#define CFSTR(cStr) ((CFStringRef)__builtin___CFStringMakeConstantString("" cStr ""))
#elif defined(__cplusplus)
/* Each use site looks its constant up once, as a compiled-in constant would cost nothing. */
#define CFSTR(cStr)                                                                   \
    ([]() -> CFStringRef {                                                            \
        static const CFStringRef constant = __CFStringMakeConstantString("" cStr ""); \
        return constant;                                                              \
    }())
#else
#define CFSTR(cStr) __CFStringMakeConstantString("" cStr "")
#endif

CF_EXPORT CFTypeID CFStringGetTypeID(void);
/* Create: the caller releases the result. NULL when cStr is not valid in the encoding. */
CF_EXPORT CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char *cStr, CFStringEncoding encoding);
/* Create: the caller releases the result. */
CF_EXPORT CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8 *bytes, CFIndex numBytes,
                                              CFStringEncoding encoding, Boolean isExternalRepresentation);
/* Create: the caller releases the result. */
CF_EXPORT CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar *chars, CFIndex numChars);
CF_EXPORT CFIndex CFStringGetLength(CFStringRef theString);
CF_EXPORT UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx);
CF_EXPORT CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding, UInt8 lossByte,
                                   Boolean isExternalRepresentation, UInt8 *buffer, CFIndex maxBufLen,
                                   CFIndex *usedBufLen);
CF_EXPORT Boolean CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize,
                                     CFStringEncoding encoding);
CF_EXPORT CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);

CF_EXTERN_C_END

#endif
