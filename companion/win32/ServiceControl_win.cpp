// ServiceControl over the service control manager, read access only.
#include <windows.h>

#include "ServiceControl.h"
#include "Win32Ports.h"

namespace {

struct ScHandle {
    SC_HANDLE h;
    ~ScHandle() {
        if (h)
            CloseServiceHandle(h);
    }
};

class ServiceControlWin : public ServiceControl {
  public:
    uint32_t QueryServiceState(const std::string& serviceName) override {
        ScHandle manager{OpenSCManagerA(nullptr, "ServicesActive", GENERIC_READ)};
        if (manager.h == nullptr)
            return 0;
        ScHandle service{OpenServiceA(manager.h, serviceName.c_str(), GENERIC_READ)};
        if (service.h == nullptr)
            return 0;
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(service.h, &status))
            return 0;
        return status.dwCurrentState;
    }
};

} // namespace

std::unique_ptr<ServiceControl> CreateWin32ServiceControl() {
    return std::make_unique<ServiceControlWin>();
}
