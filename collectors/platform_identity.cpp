// Reads the model, the serial number and the asset value from the platform expert service. The serial
// number is "IOPlatformSerialNumber", or else rebuilt from the "serial-number" data.
#include "collectors/platform_identity.h"

#include <stdlib.h>
#include <string.h>

#include "inventory/captured_text.h"
#include "inventory/store.h"
#include "platform/computer_make.h"
#include "platform/platform.h"

namespace {

const size_t kSerialConversionSize = 34;  // at most 33 bytes of the platform's serial
const size_t kModelConversionSize = 256;  // more than the 63 bytes the model text keeps
const size_t kMakeConversionSize = 256;   // likewise for the maker
const size_t kAssetMaxBytes = 9;
const size_t kSuffixEscapedSize = 19;  // three bytes escape to at most 18
const CFIndex kAssetOffset = 3;
const CFIndex kSerialOffset = 13;

// Signed-byte test of the serial's trailing bytes: 0x20 and below, and 0x80 and above.
bool IsTrailingJunk(char c) { return static_cast<signed char>(c) < 0x21; }

}  // namespace

int32_t CaptureComputerMake(char *make) {
    if (make == NULL) return 0;
    make[0] = '\0';
    char converted[kMakeConversionSize];
    if (CopyComputerMake(converted, sizeof converted) == 0) return 0;
    EscapeCopy(make, kTextSize, converted);
    return 1;
}

int32_t ReadPlatformModel(io_service_t service, char *model) {
    if (service == IO_OBJECT_NULL || model == NULL) return 0;
    // Owned: released below.
    CFTypeRef property = IORegistryEntryCreateCFProperty(service, CFSTR("model"), kCFAllocatorDefault, 0);
    if (property == NULL) return 0;
    if (CFGetTypeID(property) != CFDataGetTypeID()) {
        CFRelease(property);
        return 0;
    }
    CFDataRef data = static_cast<CFDataRef>(property);
    char converted[kModelConversionSize];
    CFIndex length = CFDataGetLength(data);
    if (length > static_cast<CFIndex>(sizeof converted) - 1) length = sizeof converted - 1;
    if (length < 0) length = 0;
    CFDataGetBytes(data, CFRangeMake(0, length), reinterpret_cast<UInt8 *>(converted));
    converted[length] = '\0';  // the text ends at its first NUL, or here
    EscapeCopy(model, kTextSize, converted);
    CFRelease(property);
    return 1;
}

void ParseSerialNumberData(const UInt8 *data, CFIndex length, char *asset, char *serial) {
    if (asset == NULL) return;
    asset[0] = '\0';
    if (serial == NULL) return;
    serial[0] = '\0';
    if (data == NULL || length <= 0) return;

    // A private copy with a NUL after the last byte, so that no text runs past the data.
    char *copy = static_cast<char *>(malloc(static_cast<size_t>(length) + 1));
    if (copy == NULL) return;
    memcpy(copy, data, static_cast<size_t>(length));
    copy[length] = '\0';
    if (copy[0] == '\0' || IsBlank(copy)) {
        free(copy);
        return;
    }

    // The serial text at offset 13, without trailing blanks, controls and high bytes.
    char *text = copy + (kSerialOffset < length ? kSerialOffset : length);
    size_t n = strlen(text);
    while (n > 0 && IsTrailingJunk(text[n - 1])) text[--n] = '\0';

    // Twelve-character serials keep their last four characters at offset 0 and the whole serial at
    // offset 13: when the serial text already ends with the text at offset 0, it is the serial alone
    // and there is no asset.
    const size_t headLength = strlen(copy);
    if (headLength <= n && memcmp(text + n - headLength, copy, headLength) == 0) {
        EscapeCopy(serial, kTextSize, text);
        free(copy);
        return;
    }

    EscapeCopy(asset, kTextSize, copy + (kAssetOffset < length ? kAssetOffset : length));
    CutEscaped(asset, kAssetMaxBytes);
    EscapeCopy(serial, kTextSize, text);

    // Append the three bytes at offset 0 unless the serial text already ends with them. When the text
    // is shorter than three bytes the compared bytes reach back before offset 13; a byte beyond the
    // copy counts as different.
    bool differs = false;
    for (CFIndex k = 0; k < 3; ++k) {
        const CFIndex at = kSerialOffset - 3 + static_cast<CFIndex>(n) + k;
        if (at > length || copy[at] != copy[k]) differs = true;
    }
    if (differs) {
        char suffix[4] = {0, 0, 0, 0};
        for (int k = 0; k < 3 && copy[k] != '\0'; ++k) suffix[k] = copy[k];
        char escaped[kSuffixEscapedSize];
        EscapeCopy(escaped, sizeof escaped, suffix);
        AppendEscaped(serial, kTextSize, escaped);
    }
    free(copy);
}

int32_t CapturePlatformIdentity(char *serial, char *asset, char *model) {
    if (serial == NULL) return 0;
    serial[0] = '\0';
    if (asset == NULL) return 0;
    asset[0] = '\0';
    if (model != NULL) model[0] = '\0';

    io_service_t expert = GetPlatformExpert();  // owned: released on every path below
    if (expert == IO_OBJECT_NULL) return 0;
    if (model != NULL) ReadPlatformModel(expert, model);

    // Owned: released below.
    CFTypeRef platformSerial =
        IORegistryEntryCreateCFProperty(expert, CFSTR("IOPlatformSerialNumber"), kCFAllocatorDefault, 0);
    if (platformSerial != NULL && CFGetTypeID(platformSerial) == CFStringGetTypeID()) {
        char converted[kSerialConversionSize];
        CopyCFStringBytes(static_cast<CFStringRef>(platformSerial), kCFStringEncodingUTF8, converted, sizeof converted);
        EscapeCopy(serial, kTextSize, converted);
        if (!IsBlank(serial)) {
            IOObjectRelease(expert);
            CFRelease(platformSerial);
            return 1;
        }
    }
    if (platformSerial != NULL) CFRelease(platformSerial);

    // Owned: released below.
    CFTypeRef serialData = IORegistryEntryCreateCFProperty(expert, CFSTR("serial-number"), kCFAllocatorDefault, 0);
    if (serialData != NULL && CFGetTypeID(serialData) == CFDataGetTypeID()) {
        CFDataRef data = static_cast<CFDataRef>(serialData);
        const UInt8 *bytes = CFDataGetBytePtr(data);  // borrowed from data
        if (bytes != NULL) ParseSerialNumberData(bytes, CFDataGetLength(data), asset, serial);
    }
    if (serialData != NULL) CFRelease(serialData);
    IOObjectRelease(expert);
    return 0;
}
