// ServiceControl over the service control manager, read access only.
#include <windows.h>

#include "ScopedHandle.h"
#include "ServiceControl.h"
#include "Win32Ports.h"

namespace {

class ServiceControlWin : public ServiceControl {
  public:
    uint32_t QueryServiceState(const std::string& serviceName) override {
        ScopedServiceHandle manager(OpenSCManagerA(nullptr, "ServicesActive", GENERIC_READ));
        if (!manager)
            return 0;
        ScopedServiceHandle service(OpenServiceA(manager.Get(), serviceName.c_str(), GENERIC_READ));
        if (!service)
            return 0;
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service.Get(), &status))
            return 0;
        return status.dwCurrentState;
    }
};

} // namespace

std::unique_ptr<ServiceControl> CreateWin32ServiceControl() {
    return std::make_unique<ServiceControlWin>();
}
