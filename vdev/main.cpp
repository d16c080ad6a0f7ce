#include "vdev/VdevCommand.h"

int main(int argc, char** argv) {
    return RunVdevCommand(argc, argv);
}
