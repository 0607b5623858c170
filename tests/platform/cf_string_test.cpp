// The stand-in's CFString and CFData behave as Core Foundation's do, where it crashes included.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <string>

#include "standin_testing.h"

namespace {

class CFStringTest : public ::testing::Test {};

TEST_F(CFStringTest, LengthCountsUtf16Units) {
    struct Case {
        const char *utf8;
        CFIndex units;
    } cases[] = {{"", 0}, {"abc", 3}, {"caf\xC3\xA9", 4}, {"\xE2\x82\xAC", 1}, {"\xF0\x9F\x98\x80", 2}};
    for (const auto &c : cases) {
        CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, c.utf8, kCFStringEncodingUTF8);
        ASSERT_NE(s, nullptr) << c.utf8;
        EXPECT_EQ(CFStringGetLength(s), c.units) << c.utf8;
        EXPECT_EQ(CFGetTypeID(s), CFStringGetTypeID());
        CFRelease(s);
    }
}

TEST_F(CFStringTest, InvalidUtf8GivesNull) {
    for (const char *bad : {"\xFF", "a\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        EXPECT_EQ(CFStringCreateWithCString(kCFAllocatorDefault, bad, kCFStringEncodingUTF8), nullptr);
    }
    EXPECT_EQ(CFStringCreateWithCString(kCFAllocatorDefault, nullptr, kCFStringEncodingUTF8), nullptr);
}

TEST_F(CFStringTest, GetBytesStopsOnWholeCharacters) {
    CFStringRef s =
        CFStringCreateWithCString(kCFAllocatorDefault, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", kCFStringEncodingUTF8);
    ASSERT_NE(s, nullptr);
    struct Case {
        CFIndex max;
        CFIndex converted;
        CFIndex used;
    } cases[] = {{0, 5, 10},  // no room: measured, nothing written
                 {1, 1, 1},  {2, 1, 1}, {3, 2, 3}, {5, 2, 3}, {6, 3, 6}, {9, 3, 6}, {10, 5, 10}, {64, 5, 10}};
    for (const auto &c : cases) {
        UInt8 buf[64];
        CFIndex used = -1;
        CFIndex converted = CFStringGetBytes(s, CFRangeMake(0, CFStringGetLength(s)), kCFStringEncodingUTF8, '?', true,
                                             buf, c.max, &used);
        EXPECT_EQ(converted, c.converted) << c.max;
        EXPECT_EQ(used, c.used) << c.max;
    }
    // A null buffer only measures.
    CFIndex used = 0;
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 5), kCFStringEncodingUTF8, 0, false, nullptr, 0, &used), 5);
    EXPECT_EQ(used, 10);
    CFRelease(s);
    // A string of ASCII only is copied as far as the room goes: none, with no room.
    UInt8 buf[4];
    EXPECT_EQ(CFStringGetBytes(CFSTR("abc"), CFRangeMake(0, 3), kCFStringEncodingUTF8, '?', true, buf, 0, &used), 0);
    EXPECT_EQ(used, 0);
}

// UTF-8 conversion stops at an unpaired surrogate, loss byte or not; ASCII takes the loss byte for what
// it cannot hold.
TEST_F(CFStringTest, UnpairedSurrogateEndsTheUtf8Conversion) {
    const UniChar units[] = {'a', 0xD800, 'b', 0xDC00};
    CFStringRef s = CFStringCreateWithCharacters(kCFAllocatorDefault, units, 4);
    UInt8 buf[16];
    CFIndex used = 0;
    for (const UInt8 lossByte : {UInt8{'?'}, UInt8{0}}) {
        EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 4), kCFStringEncodingUTF8, lossByte, true, buf, sizeof buf, &used),
                  1);
        EXPECT_EQ(used, 1);
    }
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(1, 3), kCFStringEncodingUTF8, '?', true, buf, sizeof buf, &used), 0);
    EXPECT_EQ(CFStringGetBytes(CFSTR("a\u00E9b"), CFRangeMake(0, 3), kCFStringEncodingASCII, '?', true, buf, sizeof buf,
                               &used),
              3);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), static_cast<size_t>(used)), "a?b");
    char cbuf[16];
    EXPECT_FALSE(CFStringGetCString(s, cbuf, sizeof cbuf, kCFStringEncodingUTF8));
    EXPECT_STREQ(cbuf, "");
    CFRelease(s);
}

TEST_F(CFStringTest, GetCStringFailsWhenTooSmall) {
    CFStringRef s = CFStringCreateWithCString(kCFAllocatorDefault, "hello", kCFStringEncodingUTF8);
    char buf[8] = "xxxxxxx";
    EXPECT_FALSE(CFStringGetCString(s, buf, 5, kCFStringEncodingUTF8));
    EXPECT_STREQ(buf, "");
    EXPECT_TRUE(CFStringGetCString(s, buf, 6, kCFStringEncodingUTF8));
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(5, kCFStringEncodingUTF8), 15);
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(5, kCFStringEncodingUTF16), 10);
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(5, kCFStringEncodingISOLatin1), 5);
    CFRelease(s);
    // A UTF-8 byte-order mark is no character of the string.
    s = CFStringCreateWithCString(kCFAllocatorDefault,
                                  "\xEF\xBB\xBF"
                                  "abc",
                                  kCFStringEncodingUTF8);
    EXPECT_TRUE(CFEqual(s, CFSTR("abc")));
    CFRelease(s);
}

TEST_F(CFStringTest, ConstantsAreInternedAndNotCounted) {
    const long before = standin::LiveObjectCount();
    CFStringRef a = CFSTR("Serial Number");
    CFStringRef b = CFSTR("Serial Number");
    EXPECT_EQ(a, b);
    CFRelease(a);  // constants survive stray releases
    EXPECT_EQ(CFStringGetLength(b), 13);
    EXPECT_EQ(standin::LiveObjectCount(), before);
}

TEST_F(CFStringTest, RetainReleaseAndEquality) {
    CFStringRef a = CFStringCreateWithCString(kCFAllocatorDefault, "k", kCFStringEncodingUTF8);
    CFRetain(a);
    EXPECT_EQ(CFGetRetainCount(a), 2);
    CFRelease(a);
    EXPECT_TRUE(CFEqual(a, CFSTR("k")));
    EXPECT_FALSE(CFEqual(a, CFSTR("K")));
    CFRelease(a);
}

// Where Core Foundation crashes, so does the stand-in, naming the call.
TEST_F(CFStringTest, CallsThatCrashCoreFoundationStopTheProcess) {
    const UInt8 bytes[] = {1, 2};
    CFDataRef d = CFDataCreate(kCFAllocatorDefault, bytes, 2);
    UInt8 out[8];
    EXPECT_DEATH(CFGetTypeID(nullptr), "CFGetTypeID: NULL argument");
    EXPECT_DEATH(CFRelease(nullptr), "CFRelease: NULL argument");
    EXPECT_DEATH(CFEqual(d, nullptr), "CFEqual: NULL argument");
    EXPECT_DEATH(CFStringGetLength(nullptr), "CFStringGetLength: NULL argument");
    EXPECT_DEATH(CFDataGetLength(nullptr), "CFDataGetLength: NULL argument");
    EXPECT_DEATH(CFDictionaryGetValue(nullptr, CFSTR("k")), "CFDictionaryGetValue: NULL argument");
    EXPECT_DEATH(CFDataGetBytes(d, CFRangeMake(1, 2), out), "CFDataGetBytes: range past the end");
    CFRelease(d);
}

TEST_F(CFStringTest, DataCopiesAndRanges) {
    const UInt8 bytes[] = {1, 2, 3, 4};
    CFDataRef d = CFDataCreate(kCFAllocatorDefault, bytes, 4);
    EXPECT_EQ(CFGetTypeID(d), CFDataGetTypeID());
    EXPECT_EQ(CFDataGetLength(d), 4);
    UInt8 out[4] = {};
    CFDataGetBytes(d, CFRangeMake(1, 2), out);
    EXPECT_EQ(out[0], 2);
    EXPECT_EQ(out[1], 3);
    EXPECT_EQ(CFDataGetBytePtr(d)[3], 4);
    CFRelease(d);
    d = CFDataCreate(kCFAllocatorDefault, nullptr, 0);
    EXPECT_EQ(CFDataGetBytePtr(d), nullptr) << "empty data has no bytes";
    CFRelease(d);
}

}  // namespace
