// Prints the main bundle's packed version: run from inside a bundle by the helper tests.
#include <stdio.h>

#include "cfhelpers/cfhelpers.h"

int main() {
    printf("0x%08x\n", GetBundleVersionByIdentifier(NULL));
    return 0;
}
