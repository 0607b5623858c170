// The Linux build's document for a machine described as the emulated Mac runs describe it: the peer
// whose bytes the Mac executable's must equal. Usage: mac_peer IOREG INTERFACES NAME [NODES]
// (an `ioreg -lw0` file, an interface list file as tests/data/macos-interfaces.txt writes one, the
// computer name, and the network interface nodes as tests/data/macos-interface-nodes.txt writes them,
// added to the registry after its services); writes the document to standard output, and exits with
// the report's status.
#include <stdio.h>

#include <filesystem>
#include <string>

#include "real_macs.h"
#include "report/report_writer.h"
#include "standin_testing.h"
#include "test_util.h"

int main(int argc, char **argv) {
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: mac_peer IOREG INTERFACES NAME [NODES]\n");
        return 64;
    }
    std::string registry, interfaces, error;
    if (!testutil::ReadFile(argv[1], &registry) || !testutil::ReadFile(argv[2], &interfaces)) {
        fprintf(stderr, "mac_peer: cannot read %s or %s\n", argv[1], argv[2]);
        return 66;
    }
    auto services = testutil::ReadIoreg(registry, &error);
    if (services.empty()) {
        fprintf(stderr, "mac_peer: %s: %s\n", argv[1], error.c_str());
        return 65;
    }
    // The maker comes from a file of each platform: the Mac's names Apple, the Linux one reads DMI. The
    // peer's machine names Apple there.
    testutil::TempDir root;
    std::error_code made;
    std::filesystem::create_directories(root / "sys/class/dmi/id", made);
    if (made || !testutil::WriteFile(root / "sys/class/dmi/id/sys_vendor", "Apple\n")) {
        fprintf(stderr, "mac_peer: no DMI tree of its own\n");
        return 73;
    }
    if (argc == 5) {
        for (const auto &node : testutil::MacNetworkNodes(argv[4])) services.push_back(node);
    }
    standin::UseLiveRegistry(root.path());
    standin::InstallRegistry(services);
    standin::InstallInterfaces(testutil::ReadInterfaceList(interfaces));
    standin::SetComputerName(argv[3]);
    char program[] = "machineinfo", dash[] = "-";
    char *report[] = {program, dash, nullptr};
    const int status = WriteReport(2, report);
    return status;
}
