// rxmon's entry point.
#include "app/monitor.h"

int main() { monitor_main(); }
