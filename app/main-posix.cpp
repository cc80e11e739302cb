#include "app/entry.h"

int main(int argc, char* argv[]) { return tolvane::entry(argc, argv); }
