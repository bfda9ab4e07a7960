#include "Ports.h"

CompanionPorts& Ports() {
    static CompanionPorts ports;
    return ports;
}
