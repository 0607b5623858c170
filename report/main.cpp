// Process entry: writes the inventory document and exits with the writer's status.
#include <stdlib.h>

#include "report/report_writer.h"

int main(int argc, char **argv) { exit(WriteReport(argc, argv)); }
