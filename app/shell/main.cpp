#include "shell/startup.h"

int main(int argc, char** argv) {
    return tesmo::runProgram(argc, argv);
}
