// Writes the inventory document: the fixed head, the capture pass, one line per setting, the tail.
#include "report/report_writer.h"

#include <stdio.h>

#include "report/capture_pass.h"
#include "report/destination.h"
#include "report/settings.h"

namespace {

#define MACHINEINFO_NAMESPACE "http://schemas.machineinfo.example/movrel/quorvane"

enum {
    kXmlDeclaration,
    kRootStartFormat,
    kSectionStart,
    kSettingFormat,
    kSectionEnd,
    kRootEnd,
};

const char *const kDocumentTexts[] = {
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n",
    "<QX:data version=\"%x.%02x\" xmlns:QX=\"" MACHINEINFO_NAMESPACE "\">\n",
    "<QX:section name=\"MachineInfo\">\n",
    "<QX:setting name=\"%s\" value=\"%s\" />\n",
    "</QX:section>\n",
    "</QX:data>\n",
};

}  // namespace

int32_t WriteReport(int argc, char **argv) {
    const char *name = (argc >= 2 && argv != NULL) ? argv[1] : NULL;
    Destination destination;
    if (!OpenDestination(&destination, name)) return kStatusNotWritten;
    FILE *out = destination.stream;

    bool ok = fputs(kDocumentTexts[kXmlDeclaration], out) >= 0;
    ok = fprintf(out, kDocumentTexts[kRootStartFormat], kFormatMajor, kFormatMinor) >= 0 && ok;
    ok = fputs(kDocumentTexts[kSectionStart], out) >= 0 && ok;
    RunCapturePass();
    for (int32_t row = 0; row < kSettingRowCount; ++row) {
        // Each value is consumed here before the next provider may reuse the scratch buffer.
        ok = fprintf(out, kDocumentTexts[kSettingFormat], kSettingTable[row].name, SettingValue(row)) >= 0 && ok;
    }
    ok = fputs(kDocumentTexts[kSectionEnd], out) >= 0 && ok;
    ok = fputs(kDocumentTexts[kRootEnd], out) >= 0 && ok;
    return FinishDestination(&destination, ok) ? kStatusWritten : kStatusNotWritten;
}
