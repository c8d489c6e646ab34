// dielmon: the control program of the precision dielectric-loss tester.
#include "app.h"

int main(int argc, char** argv) {
    return dielmon::RunProgram(argc, argv);
}
