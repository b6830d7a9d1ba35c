#include "driver/run.hpp"

int main(int argc, char** argv) { run_optmix(argc, argv); }
