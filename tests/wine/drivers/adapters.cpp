// Prints the IP helper service's adapter table, one adapter a line:
// "<AdapterName> <Type> <aa:bb:cc:dd:ee:ff> <Description>". The Wine tests use it to
// name the capture driver's and the registry's test adapters after a real one.
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <vector>

typedef DWORD(WINAPI* GetAdaptersInfoFn)(PIP_ADAPTER_INFO, PULONG);

int main() {
    HMODULE iphlpapi = LoadLibraryA("iphlpapi.dll");
    if (!iphlpapi)
        return 1;
    auto getAdaptersInfo = reinterpret_cast<GetAdaptersInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(iphlpapi, "GetAdaptersInfo")));
    if (!getAdaptersInfo)
        return 1;
    ULONG size = 0;
    getAdaptersInfo(nullptr, &size);
    std::vector<BYTE> buffer(size ? size : sizeof(IP_ADAPTER_INFO));
    size = ULONG(buffer.size());
    if (getAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size) != NO_ERROR)
        return 2;
    for (auto* a = reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()); a; a = a->Next) {
        std::printf("%s %u ", a->AdapterName, unsigned(a->Type));
        for (UINT i = 0; i < 6; ++i)
            std::printf(i ? ":%02x" : "%02x", a->Address[i]);
        std::printf(" %s\n", a->Description);
    }
    return 0;
}
