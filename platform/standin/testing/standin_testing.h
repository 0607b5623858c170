// Test-only interface of the platform stand-in: install a registry, choose the computer-name answer,
// make the master port fail, and count live CF objects and registry handles. Only tests include this;
// the macOS build has no stand-in at all.
#pragma once

#include <IOKit/IOKitLib.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace standin {

// CF objects alive now (constants such as CFSTR strings are not counted).
long LiveObjectCount();
// Registry handles (services and iterators) obtained and not yet released.
long LiveHandleCount();
// Master port rights obtained with IOMasterPort and not yet deallocated.
long LiveMasterPortCount();

// A registry property as a test describes it; the registry makes the CF object.
struct Property {
    enum class Kind { kString, kUtf16String, kData, kDictionary, kBoolean };
    Kind kind = Kind::kString;
    std::string bytes;     // UTF-8 text (kString) or raw bytes (kData)
    std::u16string units;  // kUtf16String: any UTF-16 units, unpaired surrogates included
    std::vector<std::pair<std::string, Property>> entries;  // kDictionary: keys and values
    bool flag = false;                                      // kBoolean: kCFBooleanTrue or kCFBooleanFalse

    static Property String(std::string utf8) { return {Kind::kString, std::move(utf8), {}, {}}; }
    static Property Utf16(std::u16string u) { return {Kind::kUtf16String, {}, std::move(u), {}}; }
    static Property Data(std::string raw) { return {Kind::kData, std::move(raw), {}, {}}; }
    static Property Boolean(bool value) { return {Kind::kBoolean, {}, {}, {}, value}; }
    static Property Dictionary(std::vector<std::pair<std::string, Property>> entries) {
        return {Kind::kDictionary, {}, {}, std::move(entries)};
    }
};

struct Service {
    // Tests write {class, properties} or {class, properties, superclasses}.
    Service(std::string name, std::vector<std::pair<std::string, Property>> props = {},
            std::vector<std::string> supers = {})
        : className(std::move(name)), properties(std::move(props)), superclasses(std::move(supers)) {}

    std::string className;
    std::vector<std::pair<std::string, Property>> properties;
    std::vector<std::string> superclasses;  // nearest first; a lookup of any of them finds the service
};

// Replaces the registry with these services, in this order (the live machine is no longer read).
// A lookup finds the services whose class or one of whose superclasses it names, in this order.
void InstallRegistry(const std::vector<Service> &services);
// Goes back to the live machine's registry, read below root ("/" normally).
void UseLiveRegistry(const std::string &root = "/");
// Makes IOMasterPort return this result (0: succeed again).
void SetMasterPortResult(kern_return_t result);

// SCDynamicStoreCopyComputerName answers with this name.
void SetComputerName(const std::string &utf8);
// SCDynamicStoreCopyComputerName answers NULL.
void SetNoComputerName();
// SCDynamicStoreCopyComputerName reads the machine: the pretty name in machineInfoPath, else the host name.
void UseLiveComputerName(const std::string &machineInfoPath = "/etc/machine-info");

// The PRETTY_HOSTNAME value of a machine-info file's text; empty when it is not set.
std::string ParsePrettyHostname(const std::string &machineInfoText);

// CFURLWriteDataAndPropertiesToResource fails without setting its error code (as a platform might).
void SetUrlWriteFailsWithoutCode(bool fails);

// One network interface as the interface list reports it.
struct InterfaceInfo {
    std::string name;
    unsigned index = 0;
    unsigned char type = 6;                  // IFT_ETHER; 24 for loopback
    std::vector<unsigned char> linkAddress;  // any length; empty for none
    std::vector<std::array<unsigned char, 4>> ipv4;
    std::vector<std::array<unsigned char, 16>> ipv6;
    // The order the interface holds its addresses in, one character each ('4' the next of ipv4, '6'
    // the next of ipv6; "64": an IPv6 address, then an IPv4 one); those it leaves out follow, IPv4
    // first.
    std::string order;
};

// Lays the interfaces out as BSD interface request records in capacity bytes, as xnu's ifconf() does:
// each interface's link-level record, then its addresses in the order it holds them, while more than
// 32 bytes are left; a record longer than 32 bytes that does not fit drops the rest of its
// interface's records, and the next interface goes on. (Every interface here has its link-level
// record, as every interface of xnu has, so none gets the zeroed record that xnu writes for an
// interface without addresses.) Returns the bytes written.
size_t EncodeInterfaceRecords(const std::vector<InterfaceInfo> &interfaces, unsigned char *buffer, size_t capacity);
// Lays the records of a laid-out list (length bytes of them, each interface's beginning with its
// link-level record) out again in capacity bytes by the same rule, as a request of that size would
// have had them. Returns the bytes written.
size_t RelayInterfaceRecords(const unsigned char *records, size_t length, unsigned char *buffer, size_t capacity);
// Builds the interface list from the buffers of rtnetlink dumps as they are received: first a link
// dump, then address dumps (IPv4, then IPv6). Only the interfaces whose records can still fit in
// capacity bytes are kept, so a reader may stop a dump as soon as a Take call returns false. An
// interface is held in a few dozen bytes, its addresses in a list of their own.
class NetlinkInterfaces {
  public:
    explicit NetlinkInterfaces(size_t capacity);
    // Take one received buffer of a link dump (RTM_NEWLINK messages): false once the dump has ended or
    // failed, or no later link can fit after the link records before it (the links came in index
    // order).
    bool TakeLinks(const unsigned char *bytes, size_t length);
    // Starts an address dump; Take one received buffer of it (RTM_NEWADDR): false once the dump has
    // ended or failed, or it is past the last interface kept (in index order).
    void BeginAddresses();
    bool TakeAddresses(const unsigned char *bytes, size_t length);

    // The interfaces kept, in interface-index order, each with its addresses in the order they came.
    std::vector<InterfaceInfo> Interfaces() const;
    size_t Count() const { return links_.size(); }
    // Lays them out as EncodeInterfaceRecords(Interfaces(), buffer, capacity) does. Returns the bytes
    // written; the buffer stays the caller's.
    size_t LayOut(unsigned char *buffer, size_t capacity) const;

    bool failed = false;  // an error message or a malformed message was received

  private:
    struct Link {
        unsigned index;
        int firstAddress, lastAddress;  // into addresses_, -1 for none
        unsigned char type, nameLength, addressLength;
        char name[15];
        unsigned char address[8];
    };
    struct Address {
        int next;            // the interface's next address in addresses_, -1 for none
        unsigned char size;  // 4 (IPv4) or 16 (IPv6)
        unsigned char bytes[16];
    };
    std::vector<Link>::iterator Find(unsigned index);
    size_t capacity_;
    std::vector<Link> links_;  // in interface-index order
    std::vector<Address> addresses_;
    size_t linkBytes_ = 0;  // the link records of the interfaces kept
    bool ascending_ = true, addressesAscending_ = true;
    unsigned lastIndex_ = 0, lastAddressIndex_ = 0;
};
// The live machine's interfaces read through rtnetlink, in interface-index order, as far as their
// records fit in capacity bytes (the interfaces after those are not read).
std::vector<InterfaceInfo> ReadLiveInterfaces(size_t capacity = SIZE_MAX);
// The same interfaces laid out as records in capacity bytes, read and laid out without holding them
// as InterfaceInfo: EncodeInterfaceRecords(ReadLiveInterfaces(capacity), buffer, capacity). Returns
// the bytes written (0 when the kernel could not be read).
size_t ReadLiveInterfaceRecords(unsigned char *buffer, size_t capacity);
// The interface list reports these instead of the live machine's.
void InstallInterfaces(const std::vector<InterfaceInfo> &interfaces);
void UseLiveInterfaces();
// The interface list request fails with this errno (0: succeed again).
void SetInterfaceListError(int error);

}  // namespace standin
