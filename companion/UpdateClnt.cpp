#include "UpdateClnt.h"

// Placeholder until the update client lands: nothing is started.
bool StartUpdateClientIfNone(const std::string&, int) { return false; }
void ForgetUpdateClient() {}
