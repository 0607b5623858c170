/* Stand-in for Apple's CFBase.h on hosts without Core Foundation: the base types, the allocator
 * constant and the polymorphic calls (retain, release, type identifiers, equality). */
#ifndef STANDIN_CFBASE_H
#define STANDIN_CFBASE_H

#include <stddef.h>
#include <stdint.h>

#if defined(__cplusplus)
#define CF_EXTERN_C_BEGIN extern "C" {
#define CF_EXTERN_C_END }
#else
#define CF_EXTERN_C_BEGIN
#define CF_EXTERN_C_END
#endif

#define CF_EXPORT extern
/* Enumerations with the fixed underlying type that Apple gives each: a CF_ENUM is a type of its own
 * over that type, a CF_OPTIONS a plain integer type of that width with its flags as constants. Used
 * as Apple's headers use them, after a typedef ("typedef CF_ENUM(CFIndex, CFURLPathStyle) {...};"),
 * which names the underlying type once more (GCC takes no enum-base in a typedef). */
#if defined(__cplusplus)
#define CF_ENUM(_type, _name) \
    _type _name##Storage;     \
    enum _name : _type
#define CF_OPTIONS(_type, _name) \
    _type _name;                 \
    enum : _type
#else
#define CF_ENUM(_type, _name) \
    _type _name;              \
    enum
#define CF_OPTIONS(_type, _name) \
    _type _name;                 \
    enum
#endif
#define CF_INLINE static inline

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

CF_EXTERN_C_BEGIN

typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef signed char SInt8;
typedef unsigned short UInt16;
typedef signed short SInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;
typedef UInt16 UniChar;

typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFHashCode;
typedef signed long CFIndex;

typedef const void *CFTypeRef;
typedef const struct __CFString *CFStringRef;
typedef struct __CFString *CFMutableStringRef;
typedef const struct __CFAllocator *CFAllocatorRef;
typedef CFTypeRef CFPropertyListRef;

typedef struct {
    CFIndex location;
    CFIndex length;
} CFRange;

CF_INLINE CFRange CFRangeMake(CFIndex loc, CFIndex len) {
    CFRange range;
    range.location = loc;
    range.length = len;
    return range;
}

static const CFIndex kCFNotFound = -1;

CF_EXPORT const CFAllocatorRef kCFAllocatorDefault;

CF_EXPORT CFTypeID CFGetTypeID(CFTypeRef cf);
CF_EXPORT CFTypeRef CFRetain(CFTypeRef cf);
CF_EXPORT void CFRelease(CFTypeRef cf);
CF_EXPORT CFIndex CFGetRetainCount(CFTypeRef cf);
CF_EXPORT Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
CF_EXPORT CFHashCode CFHash(CFTypeRef cf);

CF_EXTERN_C_END

#endif
