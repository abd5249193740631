#include "jetwriter/JetWriter.h"
int main() { return 0; }
