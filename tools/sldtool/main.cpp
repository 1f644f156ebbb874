#include "cli.h"

int main(int argc, char **argv) {
    return sldtool::run(argc, argv);
}
