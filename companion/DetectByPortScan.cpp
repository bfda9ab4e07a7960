#include "DetectByPortScan.h"

// Placeholder until the probe lands: nothing is probed.
void StartPortProbeOnce(std::function<void()>) {}
