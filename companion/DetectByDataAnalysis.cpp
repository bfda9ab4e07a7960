#include "DetectByDataAnalysis.h"

// Placeholder until the capture lands: no capture, no findings.
bool StartDataAnalysis(ResultFlag*, ResultFlag*) { return true; }
void StopDataAnalysis(ResultFlag*, ResultFlag*) {}
