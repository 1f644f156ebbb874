/* A program built against the installed library: it must find the header,
 * link, and talk to whatever JTAG client library the process provides. */
#include <stdio.h>

#include <sld.h>

int main(void) {
    int major = 0, minor = 0;
    unsigned long count = 0;
    char **names = NULL;
    if (sld_get_version(&major, &minor) != SLD_OK || major != 1 || minor != 1) {
        fprintf(stderr, "unexpected version %d.%d\n", major, minor);
        return 1;
    }
    if (sld_get_hardware(&count, &names) != SLD_OK || count == 0 || names[0] == NULL) {
        fprintf(stderr, "no hardware listed\n");
        return 1;
    }
    printf("version %d.%d, first of %lu cables: %s\n", major, minor, count, names[0]);
    return 0;
}
