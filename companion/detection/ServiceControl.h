// Port: the service control manager, asked for the state of one service.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t kServiceRunning = 4; // SERVICE_RUNNING

class ServiceControl {
  public:
    virtual ~ServiceControl() = default;
    // Opens the active services database and the service (read access each) and
    // returns its current state; 0 when any step fails. Closes what it opened.
    virtual uint32_t QueryServiceState(const std::string& serviceName) = 0;
};
