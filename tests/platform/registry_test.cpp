// The stand-in's I/O Kit registry: matching by class in registry order, property reads, handles.
#include <IOKit/IOKitLib.h>
#include <gtest/gtest.h>
#include <mach/mach.h>

#include <string>

#include "standin_testing.h"

namespace {

using standin::Property;

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::InstallRegistry({
            {"IOPlatformExpertDevice", {{"model", Property::Data(std::string("Mac1,1\0", 7))}}},
            {"AppleAHCIDiskDriver", {{"Serial Number", Property::String("first")}}},
            {"Other", {}},
            {"AppleAHCIDiskDriver", {{"Serial Number", Property::String("second")}}},
            {"IONVMeBlockStorageDevice", {{"Serial Number", Property::String("nvme")}}},
            {"IOEmbeddedNVMeBlockDevice",
             {{"Serial Number", Property::String("embedded")}},
             {"IONVMeBlockStorageDevice", "IOBlockStorageDevice", "IOService"}},
        });
    }
    void TearDown() override { standin::UseLiveRegistry(); }
};

std::string SerialOf(io_service_t service) {
    CFTypeRef value = IORegistryEntryCreateCFProperty(service, CFSTR("Serial Number"), kCFAllocatorDefault, 0);
    if (value == nullptr) return "<none>";
    char buf[64];
    CFStringGetCString(static_cast<CFStringRef>(value), buf, sizeof buf, kCFStringEncodingUTF8);
    CFRelease(value);
    return buf;
}

TEST_F(RegistryTest, IteratesOneClassInRegistryOrder) {
    mach_port_t port = 0;
    ASSERT_EQ(IOMasterPort(MACH_PORT_NULL, &port), KERN_SUCCESS);
    io_iterator_t it = 0;
    ASSERT_EQ(IOServiceGetMatchingServices(port, IOServiceMatching("AppleAHCIDiskDriver"), &it), KERN_SUCCESS);
    std::string seen;
    while (io_service_t s = IOIteratorNext(it)) {
        seen += SerialOf(s) + ";";
        EXPECT_EQ(IOObjectRelease(s), KERN_SUCCESS);
    }
    EXPECT_EQ(seen, "first;second;");
    EXPECT_EQ(IOIteratorNext(it), 0u);
    EXPECT_EQ(IOObjectRelease(it), KERN_SUCCESS);
    EXPECT_NE(IOObjectRelease(it), KERN_SUCCESS);  // already released
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), port), KERN_SUCCESS);
}

// A lookup finds a class's subclasses too, as I/O Kit does, in registry order.
TEST_F(RegistryTest, SuperclassesMatch) {
    const std::pair<const char *, const char *> cases[] = {
        {"IONVMeBlockStorageDevice", "nvme;embedded;"},
        {"IOBlockStorageDevice", "embedded;"},
        {"IOEmbeddedNVMeBlockDevice", "embedded;"},
        {"IOService", "embedded;"},
        {"IOBlockStorage", ""},
    };
    for (const auto &c : cases) {
        io_iterator_t it = 0;
        ASSERT_EQ(IOServiceGetMatchingServices(0, IOServiceMatching(c.first), &it), KERN_SUCCESS);
        std::string seen;
        while (io_service_t s = IOIteratorNext(it)) {
            seen += SerialOf(s) + ";";
            IOObjectRelease(s);
        }
        IOObjectRelease(it);
        EXPECT_EQ(seen, c.second) << c.first;
    }
    io_service_t first = IOServiceGetMatchingService(0, IOServiceMatching("IOBlockStorageDevice"));
    EXPECT_EQ(SerialOf(first), "embedded");
    IOObjectRelease(first);
}

TEST_F(RegistryTest, FirstMatchAndMissingProperties) {
    io_service_t expert = IOServiceGetMatchingService(0, IOServiceMatching("IOPlatformExpertDevice"));
    ASSERT_NE(expert, 0u);
    CFTypeRef model = IORegistryEntryCreateCFProperty(expert, CFSTR("model"), kCFAllocatorDefault, 0);
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(CFGetTypeID(model), CFDataGetTypeID());
    EXPECT_EQ(CFDataGetLength(static_cast<CFDataRef>(model)), 7);
    CFRelease(model);
    EXPECT_EQ(IORegistryEntryCreateCFProperty(expert, CFSTR("absent"), kCFAllocatorDefault, 0), nullptr);
    EXPECT_EQ(IORegistryEntryCreateCFProperty(0, CFSTR("model"), kCFAllocatorDefault, 0), nullptr);
    IOObjectRelease(expert);
    EXPECT_EQ(IOServiceGetMatchingService(0, IOServiceMatching("ATADeviceNub")), 0u);
    EXPECT_EQ(IOServiceGetMatchingService(0, nullptr), 0u);
}

TEST_F(RegistryTest, NoMatchGivesAnEmptyIterator) {
    io_iterator_t it = 0;
    ASSERT_EQ(IOServiceGetMatchingServices(0, IOServiceMatching("ATADeviceNub"), &it), KERN_SUCCESS);
    EXPECT_EQ(IOIteratorNext(it), 0u);
    IOObjectRelease(it);
    it = 77;
    EXPECT_EQ(IOServiceGetMatchingServices(0, nullptr, &it), kIOReturnBadArgument);
    EXPECT_EQ(it, 0u) << "no iterator where there is none";
}

TEST_F(RegistryTest, MasterPortFailureIsReported) {
    standin::SetMasterPortResult(KERN_FAILURE);
    mach_port_t port = 99;
    EXPECT_EQ(IOMasterPort(MACH_PORT_NULL, &port), KERN_FAILURE);
    EXPECT_EQ(port, 0u);
    standin::SetMasterPortResult(KERN_SUCCESS);
    EXPECT_EQ(IOMasterPort(MACH_PORT_NULL, &port), KERN_SUCCESS);
    EXPECT_NE(port, 0u);
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), port), KERN_SUCCESS);
}

}  // namespace
