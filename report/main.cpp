// Process entry: writes the inventory document and exits with the writer's status.
#include <signal.h>
#include <stdlib.h>

#include "report/report_writer.h"

int main(int argc, char **argv) {
    // A file-size limit then makes a write fail (EFBIG) instead of ending the process, so that the
    // failure path removes the temporary file and the status says 2.
    signal(SIGXFSZ, SIG_IGN);
    exit(WriteReport(argc, argv));
}
