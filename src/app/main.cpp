// tern-curve: the curve editor on a real cable.
#include "app/entry.h"

int main() { return app_run(); }
