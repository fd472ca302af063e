// placeholder: replaced by its owner
#include "Budget.h"
int main(int argc, char** argv) { return quenlit::bench::runAll(argc, argv); }
